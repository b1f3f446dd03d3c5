// Test controls of the simulated USB bus: devices behind the USB bridge vendor's function driver.
//
// A test describes a device (its descriptors as bytes, built here or written by hand, and what
// the function driver reports about it), plugs it, gives its endpoints behaviour objects, injects
// faults, and reads back every request the host made. A plugged device is listed by SetupAPI
// under its interface GUID, opened by CreateFileA on its interface path, and driven with
// DeviceIoControl and the vendor's control codes. Product code never calls this.
//
//   auto card = sim::usb::plug(sim::usb::card_description());     // bulk 0x02 OUT, 0x86 IN
//   auto firmware = std::make_shared<MyFirmware>();                // an EndpointBehaviour
//   card->set_behaviour(0x02, firmware);                           // frames the host writes
//   card->set_behaviour(0x86, firmware);                           // answers the host reads
//   card->set_behaviour(0, firmware);                              // vendor requests
//   card->set_fault(0x86, {.transfers = 1, .never_complete = true});
//   ... run the code under test ...
//   for (const auto& t : card->transfers()) ...                    // what was sent
//   sim::usb::unplug_all();
//
// The bus and the function driver live in platform/usb_bus/: the driver is a driver object of the
// simulated kernel ("\Driver\UsbBridge"), each plugged device one of its device objects, linked
// from "\GLOBAL??\usb#...", so that kernel mode reaches it as user mode does (ZwCreateFile on
// "\GLOBAL??\" and the interface path without its "\\?\", then ZwDeviceIoControlFile).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"

namespace sim::usb {

// {AE18AA60-7F6A-11D4-97DD-00010229B959}: the interface class that the function driver registers.
inline constexpr GUID kVendorInterfaceGuid = {
    0xAE18AA60, 0x7F6A, 0x11D4, {0x97, 0xDD, 0x00, 0x01, 0x02, 0x29, 0xB9, 0x59}};

// USBD status words that the function driver writes into a transfer envelope (its NT status
// words are the platform's, platform/ddk/ntstatus.h).
inline constexpr uint32_t kUsbdStall = 0xC0000004;        // USBD_STATUS_STALL_PID
inline constexpr uint32_t kUsbdCanceled = 0xC0010000;     // USBD_STATUS_CANCELED
inline constexpr uint32_t kUsbdDeviceGone = 0xC0007000;   // USBD_STATUS_DEVICE_GONE
inline constexpr uint32_t kUsbdInvalidPipe = 0x80000600;  // USBD_STATUS_INVALID_PIPE_HANDLE

// ---- Descriptor builders (USB 2.0 chapter 9 and USB 3.x layouts, little-endian) ----

struct DeviceFields {
    uint16_t usb_version = 0x0200;  // bcdUSB
    uint8_t device_class = 0, device_subclass = 0, device_protocol = 0;
    uint8_t max_packet_size0 = 64;  // an exponent for bcdUSB 3.x
    uint16_t vendor_id = 0x1209, product_id = 0x7A01, device_release = 0x0100;
    uint8_t manufacturer = 1, product = 2, serial_number = 3;
    uint8_t configuration_count = 1;
};

struct Companion {  // SuperSpeed endpoint companion
    uint8_t max_burst = 0;
    uint8_t attributes = 0;
    uint16_t bytes_per_interval = 0;
};

struct Endpoint {
    uint8_t address;     // bit 7 set: IN
    uint8_t attributes;  // bits 0..1: 0 control, 1 isochronous, 2 bulk, 3 interrupt
    uint16_t max_packet_size;
    uint8_t interval = 0;
    std::optional<Companion> companion = {};
};

struct Interface {
    uint8_t number = 0, alternate = 0;
    uint8_t interface_class = 0xFF, interface_subclass = 0, interface_protocol = 0;
    uint8_t string_index = 0;
    // Whole descriptors placed between the interface descriptor and its first endpoint, such as
    // class-specific ones.
    std::vector<std::vector<uint8_t>> extra;
    std::vector<Endpoint> endpoints;
    std::optional<uint8_t> endpoint_count;  // bNumEndpoints; endpoints.size() when not given
};

struct Configuration {
    uint8_t value = 1, string_index = 0, attributes = 0x80, max_power = 50;
    std::vector<Interface> interfaces;
    std::optional<uint8_t> interface_count;  // bNumInterfaces; distinct numbers when not given
};

std::vector<uint8_t> device_descriptor(const DeviceFields& fields);
// The whole set: configuration descriptor, then each interface with its extra descriptors and
// its endpoints (each followed by its companion when it has one); wTotalLength is the set's size.
std::vector<uint8_t> configuration_set(const Configuration& configuration);
std::vector<uint8_t> string_descriptor(std::u16string_view text);
std::vector<uint8_t> langid_descriptor(const std::vector<uint16_t>& langids);
// BOS capabilities and the BOS set (wTotalLength and bNumDeviceCaps from the capabilities).
std::vector<uint8_t> usb20_extension_capability(uint32_t attributes);
std::vector<uint8_t> superspeed_capability(uint8_t attributes, uint16_t speeds,
                                           uint8_t functionality, uint8_t u1_exit,
                                           uint16_t u2_exit);
std::vector<uint8_t> container_id_capability(const uint8_t (&id)[16]);
std::vector<uint8_t> capability(uint8_t type, const std::vector<uint8_t>& body);
std::vector<uint8_t> bos_set(const std::vector<std::vector<uint8_t>>& capabilities);

// ---- What a simulated device is ----

struct Description {
    std::vector<uint8_t> device;                       // the 18-byte device descriptor
    std::vector<std::vector<uint8_t>> configurations;  // whole sets, by configuration index
    std::vector<uint8_t> bos;                          // empty: the device has none (stalls)
    std::map<uint8_t, std::vector<uint8_t>> strings;   // by index; 0 holds the LANGID table
    // What the function driver reports about the device.
    uint32_t speed = 2;  // 0x22004C: 1 full, 2 high, 4 SuperSpeed
    uint8_t address = 1;
    uint32_t driver_version = 0x01020304;
    uint32_t usbdi_version = 0x00000600;
    std::string driver_name = "USB bridge function driver";
    std::string friendly_name = "Halden USB bridge";
    uint8_t alternate_setting = 0;  // the current one, as 0x220008 reports
    uint32_t power_state = 1;       // D0
    GUID interface_guid = kVendorInterfaceGuid;
    // The instance part of the interface path ("\\?\usb#vid_...&pid_...#<instance>#{guid}"),
    // which Windows takes from the device's serial number; the bus's number for the device when
    // empty.
    std::string instance_id;
};

// The card's bridge: one configuration, interface 0 in alternate setting 0 with bulk OUT 0x02
// and bulk IN 0x86 (512 bytes at high speed; 1024 with companions, bMaxBurst 0, a BOS with a
// USB 2.0 Extension, a SuperSpeed USB and a Container ID capability at SuperSpeed), LANGID 0x0409
// and three strings.
Description card_description(bool superspeed = false);

// ---- Device behaviour ----

struct SetupPacket {
    uint8_t request_type = 0, request = 0;
    uint16_t value = 0, index = 0, length = 0;
};

// How the device answers one transfer.
struct Reply {
    uint32_t bytes = 0;        // bytes taken (OUT) or written into the buffer (IN)
    uint32_t usbd_status = 0;  // nonzero: the transfer fails with this USBD status
    bool nak = false;          // not ready: the transfer stays pending (retried after each OUT)
    static Reply ok(uint32_t bytes) { return {bytes, 0, false}; }
    static Reply stall() { return {0, kUsbdStall, false}; }
    static Reply not_ready() { return {0, 0, true}; }
};

// What an endpoint does; one object may serve several endpoints (a firmware model behind 0x02
// and 0x86, and endpoint 0). Called from the host's thread or the bus's worker thread, one call
// at a time per device; it must not call back into the device, with one exception: answer() may
// unplug it and return not_ready(), and the IN transfer then ends with the device gone.
class EndpointBehaviour {
  public:
    virtual ~EndpointBehaviour() = default;
    // A bulk, interrupt or isochronous OUT transfer: the bytes the host sent. Default: take all.
    virtual Reply receive(uint8_t endpoint, std::span<const uint8_t> data);
    // An IN transfer with room for buffer.size() bytes. Default: not ready (NAK).
    virtual Reply answer(uint8_t endpoint, std::span<uint8_t> buffer);
    // A control request on endpoint 0 other than a standard GET_DESCRIPTOR, which the device
    // answers from its description. data: the host's bytes (host to device) or the room for the
    // answer (device to host). Default: stall.
    virtual Reply control(const SetupPacket& setup, std::span<uint8_t> data);
};

// IN transfers answered from a queue: each transfer takes the next reply whole (a longer reply is
// cut to the room); with an empty queue the transfer waits. OUT data is kept.
class ReplyQueue : public EndpointBehaviour {
  public:
    void push(std::vector<uint8_t> reply);
    size_t queued() const;
    std::vector<std::vector<uint8_t>> received() const;
    Reply receive(uint8_t endpoint, std::span<const uint8_t> data) override;
    Reply answer(uint8_t endpoint, std::span<uint8_t> buffer) override;

  private:
    mutable std::mutex lock_;
    std::deque<std::vector<uint8_t>> replies_;
    std::vector<std::vector<uint8_t>> received_;
};

// ---- Fault injection ----

// Applies to transfers on one endpoint (0: control transfers, descriptor reads included).
struct EndpointFault {
    int transfers = -1;               // how many transfers it applies to; -1: all until cleared
    uint32_t refuse_status = 0;       // nonzero: DeviceIoControl fails at once (this NT status)
    uint32_t max_bytes = UINT32_MAX;  // short transfers: at most this many bytes move
    uint32_t usbd_status = 0;         // written into the envelope; the transfer fails
    uint32_t nt_status = 0;           // written into the envelope; the request completes with it
    uint32_t delay_ms = 0;            // completion this long after the request (worker thread)
    bool never_complete = false;      // pending until an abort ends it
    uint32_t aborts_ignored = 0;      // aborts (0x220044) the pending transfer survives
    // With aborts_ignored: the last ignored abort has the transfer complete normally this long
    // after it (0: before the abort request returns); -1: the abort leaves it as it was.
    int32_t completes_after_ignored_ms = -1;
};

struct DeviceFaults {
    DWORD open_error = 0;                           // CreateFileA refused with this error
    std::vector<uint8_t> failing_descriptors = {};  // descriptor types whose GET_DESCRIPTOR stalls
    bool no_alternate_setting = false;              // 0x220008 fails, so the host reads 0xFF
    std::vector<uint32_t> failing_codes = {};       // control codes refused at once
    bool close_refused = false;                     // CloseHandle on the device's handle fails
    DWORD enum_error = 0;  // SetupDiEnumDeviceInterfaces fails at this device
};

// ---- Traffic ----

// One transfer request (0x220020, 0x220024, 0x22004B) as it ended.
struct TransferRecord {
    uint32_t code = 0;
    uint8_t endpoint = 0;                     // 0 for control transfers
    bool in = false;                          // device to host
    SetupPacket setup;                        // control transfers
    std::vector<uint8_t> envelope;            // the 38 bytes as the host sent them
    std::vector<uint8_t> out_data;            // what the device took
    std::vector<uint8_t> in_data;             // what the device delivered
    uint32_t nt_status = 0, usbd_status = 0;  // as written into the envelope
    bool aborted = false;
};

class Device {
  public:
    virtual ~Device() = default;
    virtual const std::string& path() const = 0;  // the interface path, "\\?\usb#..."
    virtual void set_behaviour(uint8_t endpoint, std::shared_ptr<EndpointBehaviour> behaviour) = 0;
    virtual void set_fault(uint8_t endpoint, const EndpointFault& fault) = 0;
    virtual void set_faults(const DeviceFaults& faults) = 0;
    virtual void clear_faults() = 0;  // endpoint and device faults
    virtual std::vector<TransferRecord> transfers() const = 0;
    virtual std::vector<uint32_t> control_codes() const = 0;  // every request's code, in order
    virtual void clear_traffic() = 0;
    // On by default; off, the device keeps neither transfers nor control codes (long benches).
    virtual void set_recording(bool on) = 0;
    virtual size_t open_handles() const = 0;
    virtual size_t pending_transfers() const = 0;
    virtual uint8_t alternate_setting() const = 0;
    virtual uint32_t power_state() const = 0;
    // Removes the device: it leaves the interface list, pending transfers end with the device
    // gone, and open handles fail every later request.
    virtual void unplug() = 0;
    virtual bool plugged() const = 0;
};

// Plugs a device at the end of the bus; the first plugged device is device 0 of its GUID.
std::shared_ptr<Device> plug(Description description);
// Unplugs every device; for test fixtures.
void unplug_all();

}  // namespace sim::usb
