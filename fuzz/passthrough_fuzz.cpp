// The management pass-through: a request built by a user-space client (its
// header, payload and the buffer length it claims) handed to the driver,
// which answers some requests itself (the crash-dump bytecode program among
// them) and sends the others to the emulated adapter's firmware.
//
// Input: a flags byte (bit 2 set: the header's request length is made to
// match the bytes given), a slack byte (buffer bytes after the request),
// then the request itself (header and payload). The buffer is a heap block
// of exactly the claimed length: any access past it is caught. A request
// gives back every kernel object it took (unless it left the card in error,
// when the rig is built anew).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver_rig.h"
#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"

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

  cmdtest::Rig& rig = fuzzdrv::sharedRig(true);
  const std::string before = fuzzdrv::liveObjects();
  tamsil_cmdPassthrough(rig.a, buf.data(), static_cast<uint32_t>(buf.size()));
  if (!tamsil_cardError(rig.a) && fuzzdrv::liveObjects() != before) {
    fprintf(stderr, "a pass-through kept kernel objects:\n before %s\n after  %s\n", before.c_str(),
            fuzzdrv::liveObjects().c_str());
    abort();
  }
  return 0;
}
