#pragma once

namespace tool::print {

// Gives standard output its buffer, once, before the first print (Print.cpp says why).
void bufferStandardOutput();

} // namespace tool::print
