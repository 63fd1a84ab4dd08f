// The drive list and the bus query over arbitrary device descriptor replies,
// and descriptor_text over arbitrary offsets and sizes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dialogue/host_facts.h"
#include "fuzz/fake_device.h"
#include "platform/wire.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout))
        return 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6)
        return 0;
    // Two bytes steer the run; the rest is the reply, exactly its size, so
    // a read past it is a read past the fuzzer's buffer.
    const uint32_t drives = data[0] % 4;
    const uint32_t text_size = 1 + data[1] % 64;
    const uint8_t* reply = data + 2;
    const uint32_t reply_size = static_cast<uint32_t>(size - 2);

    FakeReplies replies;
    memset(&replies, 0, sizeof replies);
    replies.descriptor = reply;
    replies.descriptor_size = reply_size;
    replies.drives = drives;
    replies.fail_request = -1;
    replies.fail_open = -1;
    fake_device_reset(replies);

    list_drives();
    query_bus_type(static_cast<int>(data[0] >> 2));
    if (fake_open_handles() != 0 || fake_bad_closes() != 0)
        abort();

    std::vector<char> text(text_size);
    for (uint32_t at = 0; at + 4 <= reply_size && at < 64; at += 4) {
        descriptor_text(reply, reply_size, get_le32(reply, at), text.data(), text_size);
        if (strnlen(text.data(), text_size) >= text_size)
            abort();
    }
    return 0;
}
