// The Windows code page of a project's language, and text converted into it:
// the viewers decode the strings of a compiled file by the language's code
// page, whatever the pages themselves are written in.
#pragma once
#include <iconv.h>

#include <cstdint>
#include <string>
#include <string_view>

// The ANSI code page that Windows gives the language (LCID): 1252 for the
// Western European languages and any it does not know.
uint32_t code_page_of(uint32_t lcid);

// The code page's name for iconv: "CP1252".
std::string code_page_name(uint32_t code_page);

// Whether the DBCS flag applies: the code pages whose characters take two bytes.
bool is_double_byte(uint32_t code_page);

bool is_valid_utf8(std::string_view text);
bool is_ascii(std::string_view text);

// Converts text from one character set (an iconv name) into a code page.
// A character the code page lacks becomes "?" and sets `lost`; a byte that
// is not valid in the source set is taken as lost too.
struct code_page_converter {
    code_page_converter(const char *from, uint32_t code_page);
    // Into any character set iconv knows, by name.
    code_page_converter(const char *from, const char *to);
    ~code_page_converter();
    code_page_converter(const code_page_converter &) = delete;
    code_page_converter &operator=(const code_page_converter &) = delete;

    // False when iconv knows one of the two sets not.
    bool usable() const { return descriptor != reinterpret_cast<iconv_t>(-1); }
    std::string convert(std::string_view text, bool &lost);

    iconv_t descriptor;
    bool from_utf8;
};
