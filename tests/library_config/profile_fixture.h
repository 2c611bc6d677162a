// Profile replies made by hand, and the library started over the default
// emulated host (controller 0 a KS3 with NIC and iSCSI functions, controller
// 1 a Veskarn with NIC functions) with chosen adapter commands answered by
// those replies instead of the firmware.
#pragma once

#include <cstring>
#include <map>
#include <vector>

#include "config/cfg_profile_model.h"
#include "host_fixture.h"

// A ProfileConfig reply built record by record.
struct ProfileImage {
    std::vector<u8> bytes = std::vector<u8>(ORSA_PROFILE_CONFIG_SIZE, 0);
    size_t end = ORSA_PROFILE_RECORDS_OFFSET;

    u8 *add(u8 type, u8 len = ORSA_RES_DESC_LEN)
    {
        u8 *r = &bytes.at(end);
        r[0] = type;
        r[1] = len;
        end += len != 0 ? len : ORSA_RES_DESC_LEN;  // a zero length still takes room after it
        count(count() + 1);
        return r;
    }
    u16 count() const { return (u16)(bytes[0] | bytes[1] << 8); }
    void count(u32 n)
    {
        bytes[0] = (u8)n;
        bytes[1] = (u8)(n >> 8);
    }
    static void pf(u8 *r, u32 pf)
    {
        r[6] = (u8)pf;
        r[7] = (u8)((r[7] & ~3u) | ((pf >> 8) & 3u));
    }
    // Type 80. change_flags bit 4: sriov_state is meaningful.
    u8 *pcie(u32 fn, u8 pf_state, u8 roles = 0, u8 type = 0, u8 sriov = 0, u8 change_flags = 0)
    {
        u8 *r = add(ORSA_RES_PCIE_FUNCTION);
        pf(r, fn);
        r[12] = sriov;
        r[13] = pf_state;
        r[14] = type;
        r[20] = roles;
        r[23] = change_flags;
        return r;
    }
    // Types 81-83; the MAC address is 02:00:00:00:<port>:<pf>.
    u8 *function(u8 type, u32 fn, u8 port, bool hidden = false)
    {
        u8 *r = add(type);
        pf(r, fn);
        if (hidden)
            r[3] |= ORSA_RES_HIDDEN;
        const size_t mac = type == ORSA_RES_NIC_FUNCTION ? 10 : type == ORSA_RES_ISCSI_FUNCTION ? 14 : 40;
        const size_t at = type == ORSA_RES_NIC_FUNCTION ? 44 : type == ORSA_RES_ISCSI_FUNCTION ? 32 : 52;
        const u8 m[6] = {0x02, 0, 0, 0, port, (u8)fn};
        memcpy(r + mac, m, 6);
        r[at] = (u8)(port | 0xC0);  // bits 6-7 belong to other fields
        return r;
    }
    u8 *roce(u32 fn, bool hidden = false)
    {
        u8 *r = add(ORSA_RES_ROCE_FUNCTION);
        pf(r, fn);
        if (hidden)
            r[3] |= ORSA_RES_HIDDEN;
        return r;
    }
    // Type 85: counts max_pf, storage, nic, roce, iscsi, fcoe.
    u8 *port(u8 link, u8 mc_type, std::vector<u32> counts = {8, 0, 8, 0, 0, 0})
    {
        u8 *r = add(ORSA_RES_PORT);
        r[4] = (u8)(link | 0x40);
        r[5] = mc_type;
        for (size_t i = 0; i < counts.size(); ++i) {
            r[12 + 2 * i] = (u8)counts[i];
            r[13 + 2 * i] = (u8)((counts[i] >> 8) & 15);
        }
        return r;
    }
};

// The reply of one adapter command: the payload laid over the firmware's and
// the status the response header carries.
struct CannedReply {
    std::vector<u8> payload;
    u8 status = 0;
    u8 additional = 0;
};

class ProfileHost : public DiscoveryHost {
protected:
    void SetUp() override
    {
        make(chardev::defaultHost());
        ASSERT_EQ(start(), 0u);
        ks3 = ctrl(0);
        vsk = ctrl(1);
        ASSERT_TRUE(ks3 && vsk);
        host_->setReplyRewrite([this](u8 *reply, size_t size) {
            auto it = replies_.find(key(reply[1], reply[0]));
            if (it == replies_.end() || it->second.empty())
                return;
            unsigned n = served_[it->first]++;
            const CannedReply &r = it->second[std::min<size_t>(n, it->second.size() - 1)];
            reply[4] = r.status;
            reply[5] = r.additional;
            memset(reply + 16, 0, size - 16);
            if (!r.payload.empty())
                memcpy(reply + 16, r.payload.data(), std::min(size - 16, r.payload.size()));
        });
    }
    void TearDown() override
    {
        host_->setReplyRewrite(nullptr);
        DiscoveryHost::TearDown();
    }
    static u32 key(u8 subsystem, u8 opcode) { return (u32)subsystem << 8 | opcode; }
    void answer(u8 opcode, std::vector<u8> payload, u8 status = 0, u8 additional = 0)
    {
        answer(opcode, std::vector<CannedReply>{CannedReply{std::move(payload), status, additional}});
    }
    // The n-th command of the opcode from now gets replies[n]; the last one
    // stands for every later command.
    void answer(u8 opcode, std::vector<CannedReply> replies)
    {
        replies_[key(1, opcode)] = std::move(replies);
        served_[key(1, opcode)] = 0;
    }
    void fail(u8 opcode) { answer(opcode, std::vector<u8>{}, 2, 99); }
    void answer(u8 opcode, const ProfileImage &image) { answer(opcode, image.bytes); }
    unsigned served(u8 opcode) { return served_[key(1, opcode)]; }
    // Payloads of the requests of one opcode of subsystem 1.
    std::vector<std::vector<u8>> sent(u8 opcode) const { return DiscoveryHost::sent(1, opcode); }

    HmNode *ks3 = nullptr, *vsk = nullptr;
    std::map<u32, std::vector<CannedReply>> replies_;
    std::map<u32, unsigned> served_;
};
