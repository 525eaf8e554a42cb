#include "service/api.h"

#include <cstddef>
#include <cstdint>

// Feeds arbitrary bytes to every answer decoder of the service client. Any
// crash, hang or sanitizer report is a finding; decoding failures are not.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)decodeAnswer<Api::Envelope<Api::Recording>>(bytes);
    (void)decodeAnswer<Api::Envelope<Api::SharedShot>>(bytes);
    (void)decodeAnswer<Api::VersionCheck>(bytes);
    (void)decodeAnswer<Api::SignInAnswer>(bytes);
    (void)decodeAnswer<Api::LimitAnswer>(bytes);
    (void)Api::message(bytes);
    // The same bytes as the "data" of an envelope reach the nested records.
    (void)decodeAnswer<Api::Envelope<Api::Recording>>("{\"data\":" + bytes + "}");
    return 0;
}
