// The management pass-through: a request built by a user-space client (its
// header, payload and the buffer length it claims) handed to the driver,
// which answers some requests itself (the crash-dump bytecode program among
// them) and sends the others to the emulated adapter's firmware.
//
// Input: a generation selector byte (bit 2 set: the header's request length
// is made to match the bytes given), a slack byte (buffer bytes after the
// request), then the request itself (header and payload). The buffer is a
// heap block of exactly the claimed length: any access past it is caught.
#include <cstdint>
#include <cstring>
#include <vector>

#include "driver_rig.h"
#include "tamsil_cmds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t sel = data[0];
  const size_t slack = data[1];
  std::vector<uint8_t> req(data + 2, data + size);
  if (req.size() < 16) req.resize(16, 0);
  if (sel & 0x4) {
    uint32_t len = static_cast<uint32_t>(req.size() - 16);
    memcpy(&req[8], &len, 4);
  }
  std::vector<uint8_t> buf(req);
  buf.resize(req.size() + slack, 0xC5);

  fuzzdrv::Rig rig(fuzzdrv::genOf(sel), true);
  tamsil_cmdPassthrough(rig.a, buf.data(), static_cast<uint32_t>(buf.size()));
  return 0;
}
