#pragma once

#include <string>

namespace curl {

// `value` percent-encoded for a form body (curl_easy_escape): every byte but letters,
// digits and "-._~" becomes %XX, so "&", "=", "+" and "%" reach the server intact.
std::string form_escape(const std::string& value);

}  // namespace curl
