#include "retrieval/mime.h"

namespace larkspur {

std::string header_field(std::string_view, std::string_view) { return {}; }

std::string extended_subject(std::string_view) { return {}; }

std::string extended_log_text(std::string_view raw) { return std::string(raw); }

}  // namespace larkspur
