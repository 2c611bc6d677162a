/*
 * esx50_wrap.cpp - the converters into and out of the fixed buffers of the
 * IMA records and the tree's 256-byte texts.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ima/ima_plugin.h"

static_assert(sizeof(IMA_WCHAR) == sizeof(u32), "the host's wide characters are 4 bytes");

static IMA_STATUS conversion_failed(const char *function, unsigned line)
{
    printf("%s:%u: imaStatus:0x%x\n", function, line, (unsigned)IMA_ERROR_UNEXPECTED_OS_ERROR);
    return IMA_ERROR_UNEXPECTED_OS_ERROR;
}

/* The text as a wide string of at most length - 1 characters, the rest of
 * the buffer 0; the buffer stays unchanged on failure. */
IMA_STATUS Sample_Iscsi_ToWide(IMA_WCHAR *out, const char *text, size_t length)
{
    i32 count = Iscsi_CodeSet_LengthInCodePoints(text);
    u32 *wide = nullptr;
    if (count < 0 || (size_t)count >= length || Iscsi_CodeSet_UTF8ToUTF32(text, &wide) == 0 || wide == nullptr)
        return conversion_failed(__func__, __LINE__);
    size_t i = 0;
    for (; i < length && wide[i] != 0; i++)
        out[i] = (IMA_WCHAR)wide[i];
    for (; i < length; i++)
        out[i] = 0;
    free(wide);
    return IMA_STATUS_SUCCESS;
}

/* The wide string as UTF-8, ended by 0 and zero-filled: a form that does not
 * fit with its terminator fails, so no cut or unterminated name reaches the
 * tree. */
IMA_STATUS Sample_Iscsi_ToUtf8(char *out, const IMA_WCHAR *wide, size_t length)
{
    char *text = nullptr;
    if (Iscsi_CodeSet_UTF32ToUTF8((const u32 *)wide, &text) == 0 || text == nullptr)
        return conversion_failed(__func__, __LINE__);
    size_t n = strlen(text);
    if (n + 1 > length) {
        free(text);
        return conversion_failed(__func__, __LINE__);
    }
    memcpy(out, text, n);
    memset(out + n, 0, length - n);
    free(text);
    return IMA_STATUS_SUCCESS;
}
