// Paths and references as the project's files write them, turned into the
// paths below the project's directory that name stored files.
#pragma once
#include <string>
#include <string_view>

// What a reference leads to.
enum class reference_kind {
    none,      // empty, or only a fragment: the same page
    external,  // a URL with a scheme, "//host...", or a file in another compiled file ("x.chm::/y")
    outside,   // above the project's directory, or an absolute path
    local,     // `path` below the project's directory
};

struct resolved_reference {
    reference_kind kind = reference_kind::none;
    std::string path;  // "/"-separated, no "." or ".." steps, no leading "/"
};

// A reference from a page, style sheet or sitemap: whitespace trimmed, the
// query and fragment cut, "\" taken as "/", percent-escapes decoded, and
// resolved against `base`, the referring file's directory ("" for the top),
// or against the top when it starts with "/", as viewers do.
resolved_reference resolve_reference(std::string_view reference, std::string_view base);

// A path from the project file: "\" or "/", relative to the project's
// directory, taken literally (no escapes); with cut_fragment, "#..." ends it.
resolved_reference resolve_project_path(std::string_view path, bool cut_fragment = false);

// The path with every "\" made "/", for names the project file gives.
std::string with_slashes(std::string_view path);

std::string_view trimmed(std::string_view text);

// The directory part of a path below the project's directory ("" at the top).
std::string_view directory_of(std::string_view path);

// `relative` joined onto a directory as the system takes it ("." = current).
std::string joined_path(const std::string &directory, std::string_view relative);

// Whether the name ends in .htm, .html or .xhtml, in any case.
bool is_html_name(std::string_view path);
bool is_css_name(std::string_view path);
