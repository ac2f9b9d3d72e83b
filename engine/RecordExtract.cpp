#include "RecordExtract.h"

namespace veltrane {
// Placeholder until extraction lands.
int ExtractRecords(UserPrompt&, const char*, const char*, int, int, const char*) { return 0; }
}  // namespace veltrane
