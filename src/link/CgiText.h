#pragma once
// Reading the camera's CGI reply texts: the CGI_Result element and the
// elements inside it. Every reader is bounded by the text's terminating
// zero and by the limits it is given.

#include <cstddef>
#include <string>
#include <string_view>

namespace devlink {

enum class CgiExtract { Found, NoElement, Unterminated };

// Copies "<CGI_Result>" through "</CGI_Result>" of `body` into `out` (at
// most size - 1 characters, zero-terminated). With no opening tag gives
// NoElement; with no closing tag after it leaves `out` empty.
CgiExtract ExtractCgiResult(std::string_view body, char* out, std::size_t size);

// The text between `open` and `close` (or the end of the text when `close`
// is not found), at most `limit` characters. False when `open` is absent.
bool ElementText(std::string_view text, std::string_view open, std::string_view close, std::size_t limit, std::string& out);

// The decimal number inside an element, spaces around it allowed, or
// `fallback` when the element is absent or does not hold a number of at
// most four digits.
int ElementNumber(std::string_view text, std::string_view open, std::string_view close, int fallback);

// The one digit after `open` and any spaces, or `fallback` when the
// element is absent or no digit follows.
int ElementDigit(std::string_view text, std::string_view open, int fallback);

// Copies `text` into a fixed field, cut to size - 1 characters, zero-terminated.
void CopyText(char* field, std::size_t size, std::string_view text);

// `text` as a query value: every byte but the unreserved letters, digits and
// "-._~" as "%XX", so that "&", "#", "%", "+" and spaces in a user name or
// password reach the camera as they are.
std::string PercentEncode(std::string_view text);

}
