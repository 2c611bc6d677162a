// A client process over an emulated host: the host's files and devices are in
// place before the first ORSA_init. Everything after that goes through the
// exported calls only, the way an outside client sees the library.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include "emulated_host.h"
#include "tree/hm_engine.h"
#include "tree/orsa_api.h"

class ApiHost : public ::testing::Test {
public:
    void SetUp() override
    {
        const char *in_root = getenv("TAMSIL_IN_TESTROOT");
        ASSERT_TRUE(in_root != nullptr && strcmp(in_root, "1") == 0) << "run through run-in-testroot";
        host_ = std::make_unique<chardev::EmulatedHost>(chardev::defaultHost());
        ASSERT_TRUE(host_->writeHostFiles());
        chardev::install(host_.get());
    }
    void TearDown() override
    {
        while (orsa_client_count > 0)
            ORSA_exit();
        EXPECT_EQ(host_->openDescriptors(), 0u) << "a device descriptor was left open";
        chardev::install(nullptr);
        host_.reset();
    }

    // Descriptors the process holds right now.
    static int open_descriptors()
    {
        int n = 0;
        DIR *d = opendir("/proc/self/fd");
        if (d == nullptr)
            return -1;
        for (dirent *e = readdir(d); e != nullptr; e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
        return n - 1; /* the directory's own */
    }
    // The tag of a group by its path of labels below ROOT ("" = ROOT), or
    // HM_TAG_NONE.
    static u32 group_tag_of(const std::string &path)
    {
        u32 tag = 0;
        size_t start = 0;
        while (start < path.size()) {
            size_t slash = path.find('/', start);
            std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
            if (ORSA_get_node_tag(tag, part.c_str(), &tag, HM_KIND_GROUP) != 0)
                return HM_TAG_NONE;
            if (slash == std::string::npos)
                break;
            start = slash + 1;
        }
        return tag;
    }
    static u32 child_tag_of(u32 group, const char *name, u32 kind)
    {
        u32 tag = HM_TAG_NONE;
        return ORSA_get_node_tag(group, name, &tag, kind) == 0 ? tag : HM_TAG_NONE;
    }
    static std::string status_text()
    {
        u32 code = 0;
        char text[ORSA_STATUS_TEXT_SIZE] = "";
        ORSA_get_last_status(&code, text);
        return std::to_string(code) + " " + text;
    }

protected:
    std::unique_ptr<chardev::EmulatedHost> host_;
};
