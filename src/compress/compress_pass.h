// The compression pass: every catalogued file, in table order, through the
// LZX compressor into the temporary file.
#pragma once

// Creates run.temp_file, compresses the input files into it, records each
// file's place in the uncompressed stream and the reset points, and sets the
// ResetTable length and the Content offset and length. Fatal errors end the
// run from inside.
void compress_content(void);
