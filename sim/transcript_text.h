// Text of the program as a transcript line shows it: UTF-8, a line feed written as "\n".
#pragma once

#include <string>

namespace sim {

std::string transcript_text(const wchar_t* text);

} // namespace sim
