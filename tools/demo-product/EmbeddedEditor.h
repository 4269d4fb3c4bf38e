#pragma once
// The application the setup installs, carried inside the setup program as it was built.

#include <cstdint>
#include <span>

namespace demo {

// The bytes of KestrovaEditor.exe; valid for the life of the process.
std::span<const uint8_t> embeddedEditor();

}  // namespace demo
