#include "RecordScan.h"

namespace veltrane {
// Placeholder until the scan lands.
char SearchText[kPatternBufferSize];
bool SearchCaseSensitive = false;
std::string ScratchDisplayFile = "tempdisp.mrc";
void RegisterOpenRecordFile(const char*) {}
void UnregisterOpenRecordFile(const char*) {}
bool IsOpenRecordFile(const char*) { return false; }
int ScanRecords(UserPrompt&, const char*, const char*, int, int, const char*) { return -1; }
}  // namespace veltrane
