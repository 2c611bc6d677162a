// An iSCSI subtree made by the schema's own builders, as start-up and the
// target actions make it, without adapters: Kalderstone0 with
// iSCSIPhysicalHBA0 and iSCSIPhysicalHBA1, each with LogicalHBA0; targets and
// send-target portals made on demand. The initiator name and alias are the
// adapter's, read through the network code; here they are plain cached
// values. The data folder starts empty for every case and is left empty.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "backend/orsa_propertyutil.h"
#include "iscsi/iscsi_persist.h"
#include "schema/bootstrap.h"
#include "schema/builders.h"
#include "tree/hm_engine.h"
#include "tree/hm_lookup.h"
#include "tree/orsa_api.h"

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

inline void write_file(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

inline bool file_exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

// Joins fields with ",".
inline std::string join(const std::vector<std::string> &fields)
{
    std::string s;
    for (size_t i = 0; i < fields.size(); i++)
        s += (i ? "," : "") + fields[i];
    return s;
}

// A savetgt.txt line: key, name, IP, port, qualifier, options as given.
inline std::string tgt_line(const std::string &key, const std::string &name, const std::string &ip,
                            const std::string &port, const std::string &qualifier = "",
                            const std::string &header_digest = "None", const std::string &persistent = "True",
                            const std::string &type = "Static")
{
    return join({key, name, ip, port, qualifier, "iqn.init", "Yes", "Yes", header_digest, "None", "None", "", "",
                 "", "", type, "Prohibited", "Prohibited", "Prohibited", persistent});
}

inline std::string stp_line(const std::string &key, const std::string &ip, const std::string &port,
                            const std::string &header_digest = "None")
{
    return join({key, ip, port, "02:00:00:00:00:01", "Yes", "Yes", header_digest, "None", "None", "", "", "", "",
                 "Prohibited", "Prohibited", "Prohibited"});
}

inline std::string logopts_line(const std::string &key, const std::string &header_digest = "None",
                                const std::string &header_param = "Prohibited")
{
    return join({key, "Yes", "Yes", header_digest, "None", "None", "", "", "", "", "Prohibited", header_param,
                 "Prohibited"});
}

constexpr const char *kKey0 = "Kalderstone0,iSCSIPhysicalHBA0,LogicalHBA0";
constexpr const char *kKey1 = "Kalderstone0,iSCSIPhysicalHBA1,LogicalHBA0";

class IscsiTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(system("rm -rf /scratch/ferrosul && mkdir -p /scratch/ferrosul/orsa"), 0);
        ASSERT_EQ(ORSA_init(), 0u);
        ks_ = initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr);
        ASSERT_NE(ks_, nullptr);
        for (int i = 0; i < 2; i++) {
            phba_[i] = initialize_iSCSIPhysicalHBA(ks_, nullptr, nullptr, nullptr);
            ASSERT_NE(phba_[i], nullptr);
            lhba_[i] = initialize_LogicalHBA(phba_[i], nullptr, nullptr, nullptr);
            ASSERT_NE(lhba_[i], nullptr);
            HmNode *names = internal_get_node(lhba_[i], "InitiatoriSCSIName", HM_KIND_GROUP);
            ASSERT_NE(names, nullptr);
            for (const char *p : {"InitiatoriSCSIName", "InitiatorAlias"})
                HM_PROPERTY(internal_get_node(names, p, HM_KIND_PROPERTY))->handler = handle_internal_property;
            ASSERT_EQ(set_prop_val(names, "InitiatoriSCSIName", "%s", "iqn.init"), 0u);
            ASSERT_EQ(set_prop_val(names, "InitiatorAlias", "%s", "alias0"), 0u);
        }
    }

    void TearDown() override
    {
        ORSA_exit();
        EXPECT_EQ(system("rm -rf /scratch/ferrosul"), 0);
    }

    // A target with one portal per (ip, port) given.
    HmNode *Target(HmNode *lhba, const char *name, const std::vector<std::pair<std::string, std::string>> &portals)
    {
        HmNode *t = initialize_Target(lhba, nullptr, nullptr, nullptr);
        EXPECT_NE(t, nullptr);
        if (t == nullptr)
            return nullptr;
        EXPECT_EQ(set_prop_val(t, "TargetISCSIName", "%s", name), 0u);
        for (const auto &p : portals) {
            HmNode *portal = initialize_TargetPortal(t, nullptr, nullptr, nullptr);
            EXPECT_NE(portal, nullptr);
            set_prop_val(portal, "TargetIPAddress", "%s", p.first.c_str());
            set_prop_val(portal, "TargetPortNumber", "%s", p.second.c_str());
        }
        return t;
    }

    HmNode *Stp(HmNode *lhba, const char *ip, const char *port)
    {
        HmNode *disc = internal_get_node(lhba, "Discovery", HM_KIND_GROUP);
        HmNode *stp = disc != nullptr ? initialize_SendTargetPortal(disc, nullptr, nullptr, nullptr) : nullptr;
        EXPECT_NE(stp, nullptr);
        if (stp != nullptr) {
            set_prop_val(stp, "IPAddress", "%s", ip);
            set_prop_val(stp, "PortNumber", "%s", port);
        }
        return stp;
    }

    static HmNode *G(HmNode *g, const char *name) { return internal_get_node(g, name, HM_KIND_GROUP); }
    static HmNode *Options(HmNode *owner, const char *name) { return G(owner, name); }
    static HmNode *Auth(HmNode *owner, const char *name) { return G(G(owner, name), "Authentication"); }

    static std::string Cached(HmNode *g, const char *name)
    {
        HmNode *p = g != nullptr ? internal_get_node(g, name, HM_KIND_PROPERTY) : nullptr;
        return p != nullptr ? std::string(HM_PROPERTY(p)->value) : std::string("<missing>");
    }
    static void Cache(HmNode *g, const char *name, const char *value)
    {
        ASSERT_EQ(set_prop_val(g, name, "%s", value), 0u) << name;
    }
    // A client's read and write through the API.
    static std::string Get(HmNode *g, const char *name, u32 *rc = nullptr)
    {
        u32 tag = 0;
        if (g == nullptr || ORSA_get_node_tag(g->tag, name, &tag, HM_KIND_PROPERTY) != 0)
            return "<missing>";
        char v[HM_VALUE_SIZE] = "";
        u32 r = ORSA_get_property_val(g->tag, tag, v, sizeof v);
        if (rc != nullptr)
            *rc = r;
        return v;
    }
    static u32 Set(HmNode *g, const char *name, const char *value)
    {
        u32 tag = 0;
        if (g == nullptr || ORSA_get_node_tag(g->tag, name, &tag, HM_KIND_PROPERTY) != 0)
            return 0xFFFF;
        char v[HM_VALUE_SIZE];
        snprintf(v, sizeof v, "%s", value);
        return ORSA_set_property_val(g->tag, tag, v, sizeof v);
    }
    static u32 LastCode()
    {
        u32 code = 0;
        char text[ORSA_STATUS_TEXT_SIZE];
        ORSA_get_last_status(&code, text);
        return code;
    }

    HmNode *ks_ = nullptr;
    HmNode *phba_[2] = {};
    HmNode *lhba_[2] = {};
};
