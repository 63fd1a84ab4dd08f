// The device-access layer of the simulated stack: paths, handles and
// sharing, the requests every drive answers, fault injection, the trace, the
// OS-version answer, the clock and the console model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/wire.h"
#include "sim/sim.h"
#include "sim_support.h"
#include "support.h"

namespace {

const char* const HOST = R"({
  "os": {"major": 6, "minor": 1, "build": 7601, "csd": "Service Pack 1"},
  "tick_start": 5000,
  "drives": [
    {"number": 0, "path": "inbox", "product": "Fast SSD"},
    {"number": 2, "path": "jmicron", "vendor": "JMicron ", "product": "Generic NVMe",
     "port": 5, "path_id": 1, "target_id": 2, "lun": 3, "fail": [{"nth": 3, "error": 1167}]},
    {"number": 3, "path": "none", "port": 5, "query_error": 31, "address_error": 1117},
    {"number": 12, "path": "ofa", "open_error": 5, "port_open_error": 21}
  ]
})";

class SimDevice : public ::testing::Test {
  protected:
    void SetUp() override {
        sim_reset();
        std::string error;
        ASSERT_TRUE(sim_load_host_text(HOST, "test", &error)) << error;
    }
    void TearDown() override { sim_reset(); }
};

std::vector<uint8_t> property_query(uint32_t property, uint32_t query) {
    std::vector<uint8_t> q(12, 0);
    put_le32(q.data(), 0, property);
    put_le32(q.data(), 4, query);
    return q;
}

TEST_F(SimDevice, PathsAnswerByNumberAndPort) {
    struct Case {
        const char* path;
        uint32_t error;
    } cases[] = {
        {"\\\\.\\PhysicalDrive2", 0},  {"\\\\.\\physicaldrive2", 0}, {"\\\\.\\PHYSICALDRIVE0", 0},
        {"\\\\.\\PhysicalDrive02", 2}, {"\\\\.\\PhysicalDrive1", 2}, {"\\\\.\\PhysicalDrive", 2},
        {"\\\\.\\PhysicalDrive2 ", 2}, {"\\\\?\\PhysicalDrive2", 2}, {"PhysicalDrive2", 2},
        {"\\\\.\\SCSI5:", 0},          {"\\\\.\\scsi0:", 0},         {"\\\\.\\SCSI5", 2},
        {"\\\\.\\SCSI05:", 2},         {"\\\\.\\SCSI2:", 2},         {"\\\\.\\PhysicalDrive12", 5},
        {"\\\\.\\SCSI12:", 21},
    };
    for (const Case& c : cases) {
        HANDLE h = open_device(c.path, 3, 0);
        if (c.error == 0) {
            EXPECT_NE(h, INVALID_HANDLE_VALUE) << c.path;
            close_device(h);
        } else {
            EXPECT_EQ(h, INVALID_HANDLE_VALUE) << c.path;
            EXPECT_EQ(last_error(), c.error) << c.path;
        }
    }
    EXPECT_EQ(sim_open_handles(), 0);
    EXPECT_EQ(sim_bad_closes(), 0);
}

TEST_F(SimDevice, HandlesCountUpAndFailedOpensGetNone) {
    HANDLE a = open_device("\\\\.\\PhysicalDrive0", 3, 0);
    HANDLE bad = open_device("\\\\.\\PhysicalDrive7", 3, 0);
    HANDLE b = open_device("\\\\.\\PhysicalDrive2", 3, 0);
    EXPECT_EQ(reinterpret_cast<intptr_t>(a), 1);
    EXPECT_EQ(bad, INVALID_HANDLE_VALUE);
    EXPECT_EQ(reinterpret_cast<intptr_t>(b), 2);
    EXPECT_EQ(sim_open_handles(), 2);
    close_device(a);
    close_device(b);
    close_device(b);
    EXPECT_EQ(sim_open_handles(), 0);
    EXPECT_EQ(sim_bad_closes(), 1);
    EXPECT_EQ(sim_trace().size(), 5u); // three opens, two closes
}

TEST_F(SimDevice, ExclusiveOpenConflictsWithAnyOtherHandle) {
    HANDLE shared = open_device("\\\\.\\PhysicalDrive2", 3, 0);
    EXPECT_EQ(open_device("\\\\.\\PhysicalDrive2", 0, 128), INVALID_HANDLE_VALUE);
    EXPECT_EQ(last_error(), 32u);
    HANDLE shared2 = open_device("\\\\.\\physicaldrive2", 3, 0);
    EXPECT_NE(shared2, INVALID_HANDLE_VALUE);
    close_device(shared);
    close_device(shared2);

    HANDLE exclusive = open_device("\\\\.\\PhysicalDrive2", 0, 128);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_EQ(open_device("\\\\.\\PhysicalDrive2", 3, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(last_error(), 32u);
    // The drive's port is another device, and so is another drive.
    HANDLE port = open_device("\\\\.\\SCSI5:", 0, 128);
    HANDLE other = open_device("\\\\.\\PhysicalDrive0", 0, 128);
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
    EXPECT_NE(other, INVALID_HANDLE_VALUE);
    close_device(exclusive);
    close_device(port);
    close_device(other);
    HANDLE again = open_device("\\\\.\\PhysicalDrive2", 0, 128);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    close_device(again);
}

TEST_F(SimDevice, DeviceDescriptorBytes) {
    HANDLE h = open_device("\\\\.\\PhysicalDrive2", 3, 0);
    std::vector<uint8_t> q = property_query(0, 0);
    std::vector<uint8_t> out(4096, 0);
    ASSERT_TRUE(device_control(h, IOCTL_STORAGE_QUERY_PROPERTY, q.data(), 12, out.data(), 4096));
    const uint8_t* d = out.data();
    EXPECT_EQ(get_le32(d, 0), 40u);
    EXPECT_EQ(d[8], 0);
    EXPECT_EQ(d[10], 1); // removable: on USB
    EXPECT_EQ(get_le32(d, 28), 7u);
    uint32_t vendor = get_le32(d, 12), product = get_le32(d, 16);
    EXPECT_EQ(vendor, 40u);
    EXPECT_STREQ(reinterpret_cast<const char*>(d + vendor), "JMicron ");
    EXPECT_EQ(product, 49u);
    EXPECT_STREQ(reinterpret_cast<const char*>(d + product), "Generic NVMe");
    EXPECT_LE(get_le32(d, 4), 4096u);
    EXPECT_EQ(d[get_le32(d, 4)], 0); // nothing beyond Size
    close_device(h);

    h = open_device("\\\\.\\PhysicalDrive0", 3, 0);
    out.assign(4096, 0);
    ASSERT_TRUE(device_control(h, IOCTL_STORAGE_QUERY_PROPERTY, q.data(), 12, out.data(), 4096));
    EXPECT_EQ(get_le32(out.data(), 12), 0u); // no vendor text
    EXPECT_STREQ(reinterpret_cast<const char*>(out.data() + get_le32(out.data(), 16)), "Fast SSD");
    EXPECT_EQ(get_le32(out.data(), 28), 17u);
    EXPECT_EQ(out[10], 0);

    // A short output buffer receives what fits and nothing more.
    std::vector<uint8_t> small(64, 0xEE);
    ASSERT_TRUE(device_control(h, IOCTL_STORAGE_QUERY_PROPERTY, q.data(), 12, small.data(), 20));
    EXPECT_EQ(get_le32(small.data(), 0), 40u);
    EXPECT_EQ(get_le32(small.data(), 4), get_le32(out.data(), 4));
    EXPECT_EQ(small[19], out[19]);
    EXPECT_EQ(small[20], 0xEE);
    EXPECT_FALSE(device_control(h, IOCTL_STORAGE_QUERY_PROPERTY, q.data(), 12, small.data(), 7));
    EXPECT_EQ(last_error(), 122u);
    close_device(h);
}

TEST_F(SimDevice, PropertyQueriesThatAreNotAnsweredFail) {
    ASSERT_TRUE(sim_load_host_text(R"({"drives": [{"number": 2, "path": "jmicron"},
        {"number": 3, "path": "none", "query_error": 31}]})",
                                   "t", nullptr));
    HANDLE h = open_device("\\\\.\\PhysicalDrive2", 3, 0);
    std::vector<uint8_t> out(4096, 0);
    std::vector<uint8_t> protocol = property_query(49, 0);
    EXPECT_FALSE(
        device_control(h, IOCTL_STORAGE_QUERY_PROPERTY, protocol.data(), 12, out.data(), 4096));
    EXPECT_EQ(last_error(), 50u);
    std::vector<uint8_t> exists = property_query(0, 1);
    EXPECT_FALSE(
        device_control(h, IOCTL_STORAGE_QUERY_PROPERTY, exists.data(), 12, out.data(), 4096));
    EXPECT_EQ(last_error(), 50u);
    std::vector<uint8_t> q = property_query(0, 0);
    EXPECT_FALSE(device_control(h, IOCTL_STORAGE_QUERY_PROPERTY, q.data(), 8, out.data(), 4096));
    EXPECT_EQ(last_error(), 87u);
    EXPECT_FALSE(device_control(h, 0x12345678u, q.data(), 12, out.data(), 4096));
    EXPECT_EQ(last_error(), 1u);
    close_device(h);

    h = open_device("\\\\.\\PhysicalDrive3", 3, 0);
    EXPECT_FALSE(device_control(h, IOCTL_STORAGE_QUERY_PROPERTY, q.data(), 12, out.data(), 4096));
    EXPECT_EQ(last_error(), 31u);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0; }));
    close_device(h);

    EXPECT_FALSE(device_control(h, IOCTL_STORAGE_QUERY_PROPERTY, q.data(), 12, out.data(), 4096));
    EXPECT_EQ(last_error(), 6u);
}

TEST_F(SimDevice, ScsiAddressQuery) {
    HANDLE h = open_device("\\\\.\\PhysicalDrive2", 0, 128);
    uint8_t address[12];
    std::memset(address, 0xEE, sizeof address);
    ASSERT_TRUE(device_control(h, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, address, 8));
    const uint8_t expected[8] = {8, 0, 0, 0, 5, 1, 2, 3};
    EXPECT_EQ(std::memcmp(address, expected, 8), 0);
    EXPECT_EQ(address[8], 0xEE);
    EXPECT_FALSE(device_control(h, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, address, 4));
    EXPECT_EQ(last_error(), 122u);
    close_device(h);

    h = open_device("\\\\.\\PhysicalDrive0", 0, 128);
    ASSERT_TRUE(device_control(h, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, address, 8));
    const uint8_t defaults[8] = {8, 0, 0, 0, 0, 0, 0, 0}; // port: the drive number
    EXPECT_EQ(std::memcmp(address, defaults, 8), 0);
    close_device(h);

    h = open_device("\\\\.\\PhysicalDrive3", 0, 128);
    EXPECT_FALSE(device_control(h, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, address, 8));
    EXPECT_EQ(last_error(), 1117u);
    close_device(h);
}

TEST_F(SimDevice, PortHandleAnswersNothingWithoutADriverModel) {
    HANDLE port = open_device("\\\\.\\SCSI5:", 0, 128);
    uint8_t address[8] = {};
    EXPECT_FALSE(device_control(port, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, address, 8));
    EXPECT_EQ(last_error(), 1u);
    close_device(port);
}

TEST_F(SimDevice, InjectedFaultCountsEveryHandleOfTheDrive) {
    uint8_t address[8];
    // Requests to another drive do not count.
    HANDLE other = open_device("\\\\.\\PhysicalDrive0", 3, 0);
    EXPECT_TRUE(device_control(other, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, address, 8));
    close_device(other);

    HANDLE brief = open_device("\\\\.\\PhysicalDrive2", 3, 0);
    EXPECT_TRUE(device_control(brief, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, address, 8)); // 1
    close_device(brief);
    // Nor do the system volume's.
    HANDLE volume = open_volume("\\\\.\\C:");
    uint8_t extents[64];
    EXPECT_FALSE(device_control(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, extents,
                                sizeof extents));
    EXPECT_EQ(last_error(), 1u); // no drive holds it
    close_device(volume);
    HANDLE disk = open_device("\\\\.\\PhysicalDrive2", 0, 128);
    HANDLE port = open_device("\\\\.\\SCSI5:", 0, 128);
    EXPECT_FALSE(device_control(port, 0x12345678u, nullptr, 0, nullptr, 0)); // 2: error 1
    EXPECT_EQ(last_error(), 1u);
    std::memset(address, 0xEE, sizeof address);
    EXPECT_FALSE(device_control(disk, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, address, 8)); // 3
    EXPECT_EQ(last_error(), 1167u);
    EXPECT_EQ(address[0], 0xEE);
    EXPECT_TRUE(device_control(disk, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, address, 8)); // 4
    close_device(disk);
    close_device(port);
}

TEST_F(SimDevice, TraceLinesAreExact) {
    HANDLE h = open_device("\\\\.\\PhysicalDrive2", 0, 128);
    std::vector<uint8_t> q = property_query(0, 0);
    q[8] = 0xAB;
    std::vector<uint8_t> out(4096);
    device_control(h, IOCTL_STORAGE_QUERY_PROPERTY, q.data(), 12, out.data(), 4096);
    uint8_t address[8];
    device_control(h, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, address, 4);
    close_device(h);
    open_device("\\\\.\\PhysicalDrive9", 3, 0);
    device_control(reinterpret_cast<HANDLE>(intptr_t{42}), IOCTL_SCSI_GET_ADDRESS, nullptr, 0,
                   address, 8);
    HANDLE volume = open_volume("\\\\.\\C:");
    close_device(volume);
    EXPECT_EQ(machine_key_exists("SYSTEM\\CurrentControlSet\\Control\\MiniNT"), 0);
    const std::vector<std::string> expected = {
        R"({"op":"open","path":"\\\\.\\PhysicalDrive2","access":3221225472,"share":0,)"
        R"("disposition":3,"flags":128,"handle":1,"error":0})",
        R"({"op":"ioctl","handle":1,"path":"\\\\.\\PhysicalDrive2","code":2954240,)"
        R"("in_size":12,"out_size":4096,"in":"0000000000000000ab000000","ok":true,"error":0})",
        R"({"op":"ioctl","handle":1,"path":"\\\\.\\PhysicalDrive2","code":266264,)"
        R"("in_size":0,"out_size":4,"in":"","ok":false,"error":122})",
        R"({"op":"close","handle":1,"path":"\\\\.\\PhysicalDrive2"})",
        R"({"op":"open","path":"\\\\.\\PhysicalDrive9","access":3221225472,"share":3,)"
        R"("disposition":3,"flags":0,"handle":-1,"error":2})",
        R"({"op":"ioctl","handle":42,"path":"","code":266264,"in_size":0,"out_size":8,)"
        R"("in":"","ok":false,"error":6})",
        R"({"op":"open","path":"\\\\.\\C:","access":0,"share":3,"disposition":3,"flags":0,)"
        R"("handle":2,"error":0})",
        R"({"op":"close","handle":2,"path":"\\\\.\\C:"})",
        R"({"op":"registry","key":"SYSTEM\\CurrentControlSet\\Control\\MiniNT","found":false})",
    };
    EXPECT_EQ(sim_trace(), expected);
}

TEST_F(SimDevice, TraceFileReceivesTheSameLines) {
    char name[] = "/tmp/veltrane-trace-XXXXXX";
    close(mkstemp(name));
    std::ofstream(name) << "earlier line\n";
    setenv("VELTRANE_SIM_TRACE", name, 1);
    HANDLE h = open_device("\\\\.\\PhysicalDrive0", 3, 0);
    close_device(h);
    unsetenv("VELTRANE_SIM_TRACE");
    std::ifstream in(name);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::remove(name);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "earlier line");
    EXPECT_EQ(lines[1].rfind("{\"op\":\"open\",\"path\":\"\\\\\\\\.\\\\PhysicalDrive0\"", 0), 0u);
    EXPECT_EQ(lines[2], "{\"op\":\"close\",\"handle\":1,\"path\":\"\\\\\\\\.\\\\PhysicalDrive0\"}");
    EXPECT_TRUE(sim_trace().empty()); // the file alone holds them
}

TEST_F(SimDevice, OsVersionRecords) {
    OSVERSIONINFOEXA record;
    std::memset(&record, 0xEE, sizeof record);
    record.dwOSVersionInfoSize = 156;
    ASSERT_TRUE(os_version(&record));
    EXPECT_EQ(record.dwMajorVersion, 6u);
    EXPECT_EQ(record.dwMinorVersion, 1u);
    EXPECT_EQ(record.dwBuildNumber, 7601u);
    EXPECT_EQ(record.dwPlatformId, 2u);
    EXPECT_STREQ(record.szCSDVersion, "Service Pack 1");
    EXPECT_EQ(record.szCSDVersion[127], 0);
    EXPECT_EQ(record.wProductType, 1);
    EXPECT_EQ(record.wServicePackMajor, 0);

    std::memset(&record, 0xEE, sizeof record);
    record.dwOSVersionInfoSize = 148;
    ASSERT_TRUE(os_version(&record));
    EXPECT_EQ(record.dwBuildNumber, 7601u);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&record);
    for (int i = 148; i < 156; ++i)
        EXPECT_EQ(bytes[i], 0xEE) << i; // beyond the declared size

    record.dwOSVersionInfoSize = 152;
    EXPECT_FALSE(os_version(&record));
    EXPECT_EQ(last_error(), 87u);

    ASSERT_TRUE(sim_load_host_text(R"({"os": {"ex_fails": true}, "drives": []})", "t", nullptr));
    record.dwOSVersionInfoSize = 156;
    EXPECT_FALSE(os_version(&record));
    record.dwOSVersionInfoSize = 148;
    EXPECT_TRUE(os_version(&record));
    EXPECT_EQ(record.dwMajorVersion, 10u);

    ASSERT_TRUE(sim_load_host_text(R"({"os": {"fails": true}, "drives": []})", "t", nullptr));
    std::memset(&record, 0, sizeof record);
    record.dwOSVersionInfoSize = 156;
    EXPECT_FALSE(os_version(&record));
    record.dwOSVersionInfoSize = 148;
    EXPECT_FALSE(os_version(&record));
    EXPECT_EQ(last_error(), 87u);
    EXPECT_EQ(record.dwMajorVersion, 0u);
    EXPECT_TRUE(sim_trace().empty());
}

TEST_F(SimDevice, SystemVolumeNamesTheDrivesThatHoldIt) {
    // Drives out of number order; 5 of 4 KiB blocks, 1 of 512 bytes. The
    // volume is at the Windows directory's letter.
    ASSERT_TRUE(sim_load_host_text(R"({"windows_dir": "d:\\WINNT", "drives": [
        {"number": 5, "path": "none", "system": true,
         "controller": {"nsze": 1000, "lbads": [9, 12], "flbas": 1}},
        {"number": 3, "path": "none"},
        {"number": 1, "path": "none", "system": true, "controller": {"nsze": 4096}}]})",
                                   "t", nullptr));
    char directory[11];
    EXPECT_EQ(windows_directory(directory, sizeof directory), 8u);
    EXPECT_STREQ(directory, "d:\\WINNT");
    EXPECT_EQ(windows_directory(directory, 8), 0u); // no room for the terminator

    for (const char* path : {"\\\\.\\C:", "\\\\.\\D:\\", "\\\\.\\DD:"}) {
        EXPECT_EQ(open_volume(path), INVALID_HANDLE_VALUE) << path;
        EXPECT_EQ(last_error(), 2u) << path;
    }
    // The system has the volume open, sharing read and write.
    EXPECT_EQ(open_device("\\\\.\\D:", 0, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(last_error(), 32u);

    HANDLE volume = open_volume("\\\\.\\D:");
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> out(8 + 2 * 24 + 4, 0xEE);
    EXPECT_FALSE(device_control(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0,
                                out.data(), 8 + 2 * 24 - 1));
    EXPECT_EQ(last_error(), 234u);
    EXPECT_EQ(out[0], 0xEE);
    ASSERT_TRUE(device_control(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, out.data(),
                               static_cast<uint32_t>(out.size())));
    EXPECT_EQ(get_le32(out.data(), 0), 2u);
    EXPECT_EQ(get_le32(out.data(), 8), 1u);
    EXPECT_EQ(get_le64(out.data(), 16), 1048576u);
    EXPECT_EQ(get_le64(out.data(), 24), 4096u * 512 - 1048576);
    EXPECT_EQ(get_le32(out.data(), 32), 5u);
    EXPECT_EQ(get_le64(out.data(), 48), 1000u * 4096 - 1048576);
    EXPECT_EQ(out[56], 0xEE);
    EXPECT_FALSE(device_control(volume, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, out.data(), 8));
    EXPECT_EQ(last_error(), 1u);
    close_device(volume);
    EXPECT_EQ(sim_open_handles(), 0);

    // Windows PE: the MiniNT key (its name in any case), and the RAM disk at
    // X:, on no drive, whatever `system` says; an explicit Windows directory
    // is served as outside Windows PE.
    for (const char* dir : {"", R"("windows_dir": "D:\\WINNT", )"}) {
        ASSERT_TRUE(sim_load_host_text(std::string(R"({"winpe": true, )") + dir +
                                           R"("drives": [{"number": 5, "path": "none",
                                           "system": true}]})",
                                       "t", nullptr));
        EXPECT_EQ(machine_key_exists("system\\CurrentControlSet\\Control\\MININT"), 1);
        EXPECT_EQ(machine_key_exists("SYSTEM\\CurrentControlSet\\Control"), 0);
        EXPECT_EQ(windows_directory(directory, sizeof directory), *dir ? 8u : 10u);
        volume = open_volume(*dir ? "\\\\.\\D:" : "\\\\.\\X:");
        ASSERT_NE(volume, INVALID_HANDLE_VALUE) << dir;
        EXPECT_EQ(device_control(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0,
                                 out.data(), static_cast<uint32_t>(out.size())),
                  *dir ? 1 : 0)
            << dir;
        if (!*dir) {
            EXPECT_EQ(last_error(), 1u);
        }
        close_device(volume);
    }
}

TEST_F(SimDevice, VolumesAreFoundLockedAndDismounted) {
    ASSERT_TRUE(
        sim_load_host_text(R"({"windows_dir": "d:\\W", "drives": [{"number": 2, "path": "none"}],
        "volumes": [{"letter": "e", "disks": [2, 7]}, {"letter": null, "disks": [2], "in_use": true}]})",
                           "t", nullptr));
    char name[50];
    HANDLE search = find_first_volume(name, sizeof name);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(name, "\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\");
    char paths[8];
    ASSERT_TRUE(volume_path_names(name, paths, sizeof paths));
    EXPECT_EQ(std::string(paths, 5), std::string("D:\\\0\0", 5));
    ASSERT_TRUE(find_next_volume(search, name, sizeof name));
    EXPECT_FALSE(volume_path_names(name, paths, 4)); // "E:\" and two NULs do not fit
    EXPECT_EQ(last_error(), 234u);
    ASSERT_TRUE(find_next_volume(search, name, sizeof name));
    ASSERT_TRUE(volume_path_names(name, paths, sizeof paths));
    EXPECT_EQ(paths[0], 0); // no drive letter
    EXPECT_FALSE(find_next_volume(search, name, sizeof name));
    EXPECT_EQ(last_error(), 18u);
    find_volume_close(search);

    // By name without the trailing backslash, or by letter; a second lock
    // waits for the first handle to close; dismounting needs the lock.
    EXPECT_EQ(open_device("\\\\?\\Volume{00000000-0000-0000-0000-000000000001}\\", 3, 0),
              INVALID_HANDLE_VALUE);
    HANDLE e = open_device("\\\\?\\Volume{00000000-0000-0000-0000-000000000001}", 3, 0);
    HANDLE e2 = open_device("\\\\.\\E:", 3, 0);
    HANDLE in_use = open_device("\\\\?\\Volume{00000000-0000-0000-0000-000000000002}", 3, 0);
    uint8_t out[8 + 2 * 24];
    ASSERT_TRUE(
        device_control(e, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, out, sizeof out));
    EXPECT_EQ(get_le32(out, 0), 2u);
    EXPECT_EQ(get_le32(out, 32), 7u);
    EXPECT_FALSE(device_control(e2, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0));
    EXPECT_TRUE(device_control(e, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0));
    EXPECT_FALSE(device_control(e2, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0));
    EXPECT_EQ(last_error(), 5u);
    EXPECT_TRUE(device_control(e, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0));
    close_device(e);
    EXPECT_TRUE(device_control(e2, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0));
    EXPECT_FALSE(device_control(in_use, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0));
    EXPECT_EQ(last_error(), 5u);
    close_device(e2);
    close_device(in_use);
    EXPECT_EQ(sim_open_handles(), 0);
}

TEST_F(SimDevice, ReadsFollowTheSectorSizeWindowsSees) {
    // 4 MiB read at 3000 MB/s after 80 us each: a whole 1 MiB read takes
    // 430 us; a read that fails takes none.
    ASSERT_TRUE(sim_load_host_text(R"({"tick_start": 0, "drives": [{"number": 1, "path": "ofa",
        "read_fail": [{"nth": 2, "error": 23}], "controller": {"nsze": 8192},
        "read_model": {"latency_us": 80, "mb_s": 3000}}]})",
                                   "t", nullptr));
    HANDLE disk = open_device("\\\\.\\PhysicalDrive1", 0, 0x80);
    std::vector<uint8_t> a(2 << 20), b(512);
    EXPECT_TRUE(read_disk(disk, 512, a.data(), 512));
    EXPECT_FALSE(read_disk(disk, 0, a.data(), 4096)); // the injected second read
    EXPECT_EQ(last_error(), 23u);
    EXPECT_FALSE(read_disk(disk, 256, a.data(), 512));
    EXPECT_EQ(last_error(), 87u);
    EXPECT_FALSE(read_disk(disk, 0, a.data(), (1 << 20) + 512)); // more than 1 MiB
    EXPECT_EQ(last_error(), 87u);
    EXPECT_FALSE(read_disk(disk, (4 << 20) - 4096, a.data(), 8192)); // past the 4 MiB
    EXPECT_EQ(last_error(), 38u);
    EXPECT_EQ(tick_ms(), 0u); // 81 us
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(read_disk(disk, 0, a.data(), 1 << 20));
    EXPECT_EQ(tick_ms(), 1u); // 81 + 3 x 430 us
    // The same content in any cut, a 1 MiB read's included; not blank.
    ASSERT_TRUE(read_disk(disk, 4608, b.data(), 512));
    EXPECT_TRUE(std::equal(b.begin(), b.begin() + 512, a.begin() + 4608));
    EXPECT_NE(a[4096], 0);

    uint8_t geometry[32];
    ASSERT_TRUE(device_control(disk, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, geometry, 32));
    EXPECT_EQ(get_le32(geometry, 20), 512u);
    EXPECT_EQ(get_le64(geometry, 24), 4u << 20);
    EXPECT_FALSE(device_control(disk, IOCTL_DISK_UPDATE_DRIVE_SIZE, nullptr, 0, geometry, 23));
    EXPECT_EQ(last_error(), 122u);
    close_device(disk);
}

TEST_F(SimDevice, ClockStartsAtTickStartAndIgnoresIdleTime) {
    EXPECT_EQ(tick_ms(), 5000u);
    idle_ms(5); // real time, not device time
    EXPECT_EQ(tick_ms(), 5000u);
}

TEST_F(SimDevice, ConsoleModel) {
    sim_set_console(0, 3);
    EXPECT_EQ(key_wait_begin(), 0);
    EXPECT_EQ(console_key_waiting(), 0);
    sim_set_console(1, 2);
    EXPECT_EQ(key_wait_begin(), 1);
    EXPECT_EQ(console_key_waiting(), 1);
    EXPECT_EQ(console_read_key(), '\r');
    EXPECT_EQ(console_key_waiting(), 1);
    console_read_key();
    EXPECT_EQ(console_key_waiting(), 0);
}

} // namespace

TEST_F(SimDevice, PartitionTablesAsTheHostFileGivesThem) {
    ASSERT_TRUE(sim_load_host_text(R"({"drives": [
      {"number": 2, "path": "jmicron", "partitions": {"style": "gpt", "types":
        ["E75CAF8F-F680-4CEE-AFA3-B001E56EFC2D", "ebd0a0a2-b9e5-4433-87c0-68b6b72699c7"]}},
      {"number": 3, "path": "ofa", "partitions": {"style": "mbr", "types": [66]}},
      {"number": 4, "path": "none"}]})",
                                   "t", nullptr));
    const struct {
        int drive;
        uint32_t out_size;
        // The layout's style and count, then each entry's style, number and
        // type (a GUID in memory order, or the MBR byte).
        const char* head;
        uint32_t error;
    } cases[] = {
        {2, 18480,
         "01 00 00 00 02 00 00 00  01 00 00 00 01 00 00 00 8F AF 5C E7 80 F6 EE 4C AF A3 B0 01 E5 "
         "6E FC 2D  01 00 00 00 02 00 00 00 A2 A0 D0 EB E5 B9 33 44 87 C0 68 B6 B7 26 99 C7",
         0},
        {2, 48 + 144, "", 122}, // room for one of the two
        {3, 48 + 144, "00 00 00 00 01 00 00 00  00 00 00 00 01 00 00 00 42", 0},
        {4, 48, "02 00 00 00 00 00 00 00", 0},
    };
    for (const auto& c : cases) {
        HANDLE disk = open_device(("\\\\.\\PhysicalDrive" + std::to_string(c.drive)).c_str(), 3, 0);
        std::vector<uint8_t> out(c.out_size, 0xEE);
        const int ok = device_control(disk, 0x00070050, nullptr, 0, out.data(), c.out_size);
        EXPECT_EQ(ok ? 0u : last_error(), c.error) << c.drive;
        std::vector<uint8_t> head;
        const uint32_t count = ok ? get_le32(out.data(), 4) : 0;
        if (ok)
            head.assign(out.begin(), out.begin() + 8);
        for (uint32_t e = 0; e < count; ++e) {
            const uint8_t* entry = out.data() + 48 + 144 * e;
            head.insert(head.end(), entry, entry + 4);
            head.insert(head.end(), entry + 24, entry + 28);
            head.insert(head.end(), entry + 32, entry + (c.drive == 3 ? 33 : 48));
        }
        EXPECT_EQ(head, hex_bytes(c.head)) << c.drive;
        // The request has no input.
        uint8_t in[4] = {};
        EXPECT_FALSE(device_control(disk, 0x00070050, in, 4, out.data(), c.out_size));
        EXPECT_EQ(last_error(), 87u);
        close_device(disk);
    }
}
