#pragma once

// Helpers on byte strings (document content, member names, SQL, internal data).

#include <cstdint>
#include <string>
#include <vector>

namespace tf {

// White space for every trim: space, \t, \n, \v, \f, \r.
bool is_space(char c);

std::vector<std::string> explode(const std::string& text, const char& separator);
std::string trim(std::string& text);
std::string ltrim(std::string& text);
std::string rtrim(std::string& text);
std::string str2lower(std::string text);
int str2int(const char* text, int base = 10);
void file_get_contents(std::string path, std::string& out);
long file_put_contents(std::string path, unsigned char* data, long length);
std::string shortify(std::string text, unsigned limit);
std::string base64_decode(std::string text);
bool beginsWith(std::string text, const char* prefix);
bool endsWith(std::string text, const char* suffix);
std::string str_replace(std::string subject, const std::string& search, const std::string& replacement);
std::string ReplaceAll(std::string subject, const std::string& search, const std::string& replacement);
void explode2(std::string text, std::string separator, std::vector<std::string>& out);
bool is_numeric(const std::string& text, int* sign = nullptr);
std::string str2safe(std::string text);
uint32_t str2id(std::string text);
std::string url_encode(const std::string& text);
// Text made safe for XML content and attribute values: & < > (and, with
// `quotes`, " and ') become references; control characters XML does not
// allow become spaces.
std::string xml_escape(const std::string& text, bool quotes = true);
void xml_escape_into(std::string& out, const char* text, size_t size, bool quotes = true);
// Inverse of url_encode: every "%XX" with two hex digits becomes its byte; anything else stays.
std::string url_decode(const std::string& text);

} // namespace tf
