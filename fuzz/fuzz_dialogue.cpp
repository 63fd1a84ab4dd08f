// The whole dialogue over arbitrary device answers (descriptor, SCSI
// address, Identify Controller and Namespace data, completion and SCSI
// status, the system disk, one failing request or open) and arbitrary typed
// answers.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dialogue/dialogue.h"
#include "dialogue/host_facts.h"
#include "fuzz/fake_device.h"
#include "transport/transport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Console output is not looked at; the log goes to the fake device
    // layer, never to a file.
    if (!freopen("/dev/null", "w", stdout))
        return 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const uint8_t flags = in.ConsumeIntegral<uint8_t>();

    std::vector<uint8_t> descriptor(64, 0);
    descriptor[28] = (flags & 1) ? 7 : 17; // BusType: USB or NVMe
    FakeReplies replies;
    memset(&replies, 0, sizeof replies);
    replies.drives = 100;
    replies.fail_request = (flags & 2) ? in.ConsumeIntegralInRange<int>(0, 15) : -1;
    replies.fail_open = (flags & 4) ? in.ConsumeIntegralInRange<int>(0, 3) : -1;
    replies.os_fails = (flags >> 3) % 3;
    replies.console = (flags >> 5) & 1;
    replies.completion_dword3 = (flags & 0x40) ? in.ConsumeIntegral<uint32_t>() : 0;
    replies.scsi_status = (flags & 0x80) ? in.ConsumeIntegral<uint8_t>() : 0;
    replies.system_disk = in.ConsumeIntegralInRange<int>(-1, 3);
    const std::vector<uint8_t> address = in.ConsumeBytes<uint8_t>(8);
    if (!address.empty())
        memcpy(replies.address, address.data(), address.size());

    // Arguments: none (the drive is typed) or up to three.
    std::vector<std::string> args = {"veltrane"};
    const int argc = in.ConsumeIntegralInRange<int>(1, 4);
    for (int i = 1; i < argc; ++i)
        args.push_back(in.ConsumeRandomLengthString(16));
    const std::vector<uint8_t> controller =
        in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 4096));
    const std::vector<uint8_t> ns =
        in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 4096));
    const std::vector<uint8_t> answers = in.ConsumeRemainingBytes<uint8_t>();
    replies.descriptor = descriptor.data();
    replies.descriptor_size = static_cast<uint32_t>(descriptor.size());
    replies.controller = controller.data();
    replies.controller_size = static_cast<uint32_t>(controller.size());
    replies.ns = ns.data();
    replies.ns_size = static_cast<uint32_t>(ns.size());
    fake_device_reset(replies);

    FILE* input = answers.empty()
                      ? fopen("/dev/null", "r")
                      : fmemopen(const_cast<uint8_t*>(answers.data()), answers.size(), "r");
    if (!input)
        return 0;
    FILE* saved = stdin;
    stdin = input;

    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    dialogue_main(static_cast<int>(args.size()), argv.data());

    stdin = saved;
    fclose(input);
    // Every handle closed once; Format NVM only on a path that carries it.
    if (fake_open_handles() != 0 || fake_bad_closes() != 0)
        abort();
    if (fake_formats() > 1)
        abort();
    return 0;
}
