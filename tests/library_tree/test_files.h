/* Whole-file reads and writes for tests that check the library's files. */
#ifndef TESTS_LIBRARY_TREE_TEST_FILES_H
#define TESTS_LIBRARY_TREE_TEST_FILES_H

#include <stdio.h>

#include <string>

#include <gtest/gtest.h>

/* The file's bytes, or "<missing>" when it cannot be opened. */
inline std::string read_file(const char *path)
{
    FILE *f = fopen(path, "r");
    if (f == nullptr)
        return "<missing>";
    std::string s;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    fclose(f);
    return s;
}

inline void write_file(const char *path, const std::string &text)
{
    FILE *f = fopen(path, "w");
    ASSERT_NE(f, nullptr);
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}

#endif
