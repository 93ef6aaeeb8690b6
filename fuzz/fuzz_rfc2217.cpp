// Fuzzes what an rfc2217:// server sends: the client's codec takes it in two pieces split at the
// first byte's value, after its opening. Whatever comes, the data it hands over is never longer
// than what was received, and a refusal always says why.

#include "link/Rfc2217Codec.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const size_t split = data[0] % size;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const size_t length = size - 1;
    CRfc2217Codec codec;
    codec.Start();
    codec.Feed(bytes, split < length ? split : length);
    if (split < length)
        codec.Feed(bytes + split, length - split);
    const bool tooLong = codec.PendingData() > length;
    const bool silentRefusal =
        codec.GetState() == CRfc2217Codec::State::Refused && codec.Refusal().empty();
    if (tooLong || silentRefusal) {
        std::fprintf(stderr, "rfc2217 fuzz: %s\n",
                     tooLong ? "more data than received" : "a refusal without a reason");
        std::abort();
    }
    codec.SendData(bytes, length);
    codec.TakeOutput();
    return 0;
}
