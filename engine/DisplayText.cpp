#include "DisplayText.h"

namespace veltrane {
// Placeholder until the display layout lands.
void DisplayText::put(unsigned char) {}
void DisplayText::put(std::string_view) {}
void DisplayText::moveBack(std::size_t) {}
void RenderDisplayText(DisplayText&, const unsigned char*, std::size_t, unsigned char, unsigned char) {}
}  // namespace veltrane
