// SPDX-License-Identifier: Apache-2.0
#include "formats/RecordFormats.h"

#include "formats/JsonReader.h"
#include "formats/MrkReader.h"
#include "formats/XmlReader.h"

namespace veltrane {

std::unique_ptr<RecordReader> MakeRecordReader(RecordFormat format, int fd)
{
    switch (format) {
    case RecordFormat::MarcXml:
        return MakeXmlReader(fd);
    case RecordFormat::Json:
    case RecordFormat::JsonLines:
        return MakeJsonReader(fd);
    case RecordFormat::Mrk:
        return MakeMrkReader(fd);
    case RecordFormat::Iso2709:
    case RecordFormat::Text:
    case RecordFormat::Tsv:
        break;
    }
    return nullptr;
}

}  // namespace veltrane
