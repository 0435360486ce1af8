// Reading the configuration files' XML: loading a document with a logged error, and typed
// attribute reads with the conversions of C's %d and %lf. Stateless; any thread.
#pragma once

#include <tinyxml.h>

#include <cstdint>
#include <string>

// Parses the file. On failure logs the parser's error description at ERROR and returns false.
bool LoadXmlFile(const std::string& path, TiXmlDocument& document);

// The attribute's text, or "" when it is absent.
std::string TextAttribute(const TiXmlElement* element, const char* name);
// True when the attribute is present and begins (after blanks) with a decimal integer, as %d
// reads it; trailing text is ignored and values beyond 32 bits are clamped.
bool IntAttribute(const TiXmlElement* element, const char* name, int32_t* value);
// True when the attribute is present and begins with a number, as %lf reads it.
bool DoubleAttribute(const TiXmlElement* element, const char* name, double* value);
