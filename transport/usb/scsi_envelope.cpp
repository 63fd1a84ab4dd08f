// The SCSI pass-through envelope shared by the bridge tunnels and the inbox
// driver's SCSI SANITIZE.
#include "transport/usb/scsi_envelope.h"

#include <cstdio>
#include <cstring>

#include "platform/wire.h"
#include "transport/transport.h"

void envelope_begin(uint8_t* envelope, const EnvelopeHeader& header) {
    memset(envelope, 0, ENVELOPE_SIZE);
    put_le16(envelope, SPT_LENGTH, ENVELOPE_HEADER_SIZE);
    put_u8(envelope, SPT_CDB_LENGTH, header.cdb_length);
    put_u8(envelope, SPT_SENSE_INFO_LENGTH, header.sense_info_length);
    put_u8(envelope, SPT_DATA_IN, header.data_in);
    put_le32(envelope, SPT_DATA_TRANSFER_LENGTH, header.data_transfer_length);
    put_le32(envelope, SPT_TIMEOUT_VALUE, header.timeout_value);
    if (SPT_DATA_BUFFER_OFFSET_SIZE == 8)
        put_le64(envelope, SPT_DATA_BUFFER_OFFSET, ENVELOPE_DATA_OFFSET);
    else
        put_le32(envelope, SPT_DATA_BUFFER_OFFSET, ENVELOPE_DATA_OFFSET);
    put_le32(envelope, SPT_SENSE_INFO_OFFSET, header.sense_info_offset);
}

// Every envelope goes to the drive's disk handle.
static int request(DriveState* drive, uint8_t* envelope) {
    const uint32_t size = ENVELOPE_DATA_OFFSET + get_le32(envelope, SPT_DATA_TRANSFER_LENGTH);
    return device_control(drive->disk, IOCTL_SCSI_PASS_THROUGH, envelope, size, envelope, size);
}

int envelope_request(DriveState* drive, uint8_t* envelope, const char* failure_format) {
    if (request(drive, envelope))
        return 1;
    printf(failure_format, last_error());
    return 0;
}

int envelope_send(DriveState* drive, uint8_t* envelope, const char* failure_format) {
    return envelope_request(drive, envelope, failure_format) &&
           envelope_status_good(drive, envelope);
}

int envelope_run(DriveState* drive, uint8_t* envelope, const char* failure_format) {
    if (request(drive, envelope))
        return 1;
    const uint32_t error = last_error();
    printf(failure_format, error);
    if (error == ERROR_SEM_TIMEOUT)
        drive->no_answer = 1;
    return 0;
}

int envelope_run_with_direction(DriveState* drive, uint8_t* envelope, const char* failure_format,
                                int direction) {
    if (request(drive, envelope))
        return 1;
    const uint32_t error = last_error();
    printf(failure_format, static_cast<unsigned>(direction), error);
    if (error == ERROR_SEM_TIMEOUT)
        drive->no_answer = 1;
    return 0;
}

int envelope_status_good(DriveState* drive, const uint8_t* envelope) {
    const uint8_t status = envelope[SPT_SCSI_STATUS];
    if (status == ENVELOPE_STATUS_GOOD)
        return 1;
    if (drive->probing) {
        if (status == ENVELOPE_STATUS_CHECK_CONDITION)
            drive->probing = PROBE_REFUSED;
    } else {
        // The sense area was zeroed before the request: without sense asked
        // for, it still reads 0/00/00.
        const uint8_t* sense = envelope + ENVELOPE_SENSE_OFFSET;
        const bool asked = envelope[SPT_SENSE_INFO_LENGTH] != 0;
        printf("IOCtl: SCSI status 0x%02x, sense %x/%02x/%02x!\n", status,
               asked ? sense[SENSE_KEY] & 0x0F : 0, asked ? sense[SENSE_ASC] : 0,
               asked ? sense[SENSE_ASCQ] : 0);
    }
    return 0;
}

int envelope_query(DriveState* drive, uint8_t* envelope) {
    return request(drive, envelope) && envelope[SPT_SCSI_STATUS] == ENVELOPE_STATUS_GOOD;
}

void envelope_copy_in(uint8_t* envelope, const void* buffer, uint32_t length, int direction) {
    if ((direction & 0xFF) == DIR_TO_DEVICE && length != 0)
        memcpy(envelope + ENVELOPE_DATA_OFFSET, buffer, length);
}

void envelope_copy_out(const uint8_t* envelope, void* buffer, uint32_t length, int direction) {
    if ((direction & 0xFF) == DIR_FROM_DEVICE && length != 0)
        memcpy(buffer, envelope + ENVELOPE_DATA_OFFSET, length);
}

uint8_t data_in_code(int direction) {
    return (direction & 0xFF) == DIR_FROM_DEVICE ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
}

uint8_t data_in_code_unspecified(int direction) {
    switch (direction & 0xFF) {
    case DIR_FROM_DEVICE:
        return SCSI_IOCTL_DATA_IN;
    case DIR_TO_DEVICE:
        return SCSI_IOCTL_DATA_OUT;
    default:
        return SCSI_IOCTL_DATA_UNSPECIFIED;
    }
}
