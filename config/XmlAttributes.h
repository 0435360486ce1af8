// Reading the configuration files' XML: loading a document with a logged error, and typed
// attribute reads with the conversions of C's %d and %lf. Stateless; any thread.
#pragma once

#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The deepest element nesting and the largest file that LoadXmlFile hands to the parser, which
// recurses once per level.
constexpr int kMaxXmlDepth = 256;
constexpr std::size_t kMaxXmlFileBytes = 16u * 1024 * 1024;

// Parses the file. A file that is not a regular file, is larger than kMaxXmlFileBytes or nests
// elements deeper than kMaxXmlDepth is refused before it reaches the parser. On failure logs
// an ERROR line that names the file and returns false.
bool LoadXmlFile(const std::string& path, TiXmlDocument& document);

// True when no element of the text is nested deeper than maxDepth. Comments, CDATA sections,
// declarations and quoted attribute values are skipped; the text need not be well-formed.
bool XmlNestingWithin(const std::string& text, int maxDepth);

// The attribute's text, or "" when it is absent.
std::string TextAttribute(const TiXmlElement* element, const char* name);
// True when the attribute is present and begins (after blanks) with a decimal integer, as %d
// reads it; trailing text is ignored and values beyond 32 bits are clamped.
bool IntAttribute(const TiXmlElement* element, const char* name, int32_t* value);
// True when the attribute is present and begins with a number, as %lf reads it.
bool DoubleAttribute(const TiXmlElement* element, const char* name, double* value);
