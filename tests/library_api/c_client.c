/* A plain C client of libdrelmo.so, built with nothing but drelmo.h: it opens
 * the library, walks the whole tree from ROOT by tags, reads every property,
 * writes one, meets a few refusals and closes the library again. */
#include <stdio.h>
#include <string.h>

#include "drelmo.h"

static int passed, failed;

#define CHECK(cond, what)                                                   \
    do {                                                                    \
        if (cond) {                                                         \
            passed++;                                                       \
        } else {                                                            \
            failed++;                                                       \
            printf("FAILED line %d: %s (%s)\n", __LINE__, #cond, (what));  \
        }                                                                   \
    } while (0)

static uint32_t last_code(char *text)
{
    uint32_t code = 12345;
    ORSA_get_last_status(&code, text);
    return code;
}

/* Visits a group and everything below it; returns the number of properties read. */
static int walk(uint32_t group, uint32_t expected_parent)
{
    char name[HM_NAME_SIZE] = "";
    uint32_t parent = 0xFFFFFFFFu, tags[256], count = 0, i;
    int read = 0;
    CHECK(ORSA_get_node_name(group, name, HM_KIND_GROUP) == ORSA_OK, "group name");
    CHECK(ORSA_get_parent_tag(group, &parent) == ORSA_OK && parent == expected_parent, name);

    CHECK(ORSA_get_child_tags(group, tags, &count, ORSA_FILTER_PROPERTIES) == ORSA_OK, name);
    for (i = 0; i < count; i++) {
        char pname[HM_NAME_SIZE] = "", value[HM_VALUE_SIZE] = "", text[ORSA_STATUS_TEXT_SIZE];
        HmNodeDescription d;
        uint32_t rc;
        memset(&d, 0, sizeof d);
        CHECK(ORSA_get_node_name(tags[i], pname, HM_KIND_PROPERTY) == ORSA_OK, name);
        CHECK(ORSA_get_node_description(tags[i], &d) == ORSA_OK && d.kind == HM_KIND_PROPERTY, pname);
        CHECK(strlen(d.description) > 0 && d.type <= HM_TYPE_LIST, pname);
        rc = ORSA_get_property_val(group, tags[i], value, (int32_t)sizeof value);
        CHECK(rc == ORSA_OK || rc == last_code(text), pname); /* a failure says why */
        CHECK(strlen(value) < HM_VALUE_SIZE, pname);
        printf("%s/%s = %s\n", name, pname, value);
        read++;
    }
    CHECK(ORSA_get_child_tags(group, tags, &count, ORSA_FILTER_GROUPS) == ORSA_OK, name);
    for (i = 0; i < count; i++)
        read += walk(tags[i], group);
    return read;
}

int main(void)
{
    char text[ORSA_STATUS_TEXT_SIZE], value[HM_VALUE_SIZE], name[HM_NAME_SIZE];
    uint32_t level = 0, tag = 0;
    HmParamInfo info;

    /* no adapter on this host: opened all the same, with a notice */
    CHECK(ORSA_init() == ORSA_OK, "open");
    CHECK(last_code(text) == 313 && strstr(text, "Adapter Not found") != NULL, text);
    CHECK(ORSA_get_node_name(0, name, HM_KIND_GROUP) == ORSA_OK && strcmp(name, "ROOT") == 0, name);
    CHECK(walk(0, 0) >= 3, "every property of the tree read");

    /* the log level: written, read back, refused out of its list */
    CHECK(ORSA_get_node_tag(0, "ORSADebugLevel", &level, HM_KIND_PROPERTY) == ORSA_OK, "level tag");
    strcpy(value, "2");
    CHECK(ORSA_set_property_val(0, level, value, sizeof value) == ORSA_OK, "level write");
    memset(value, 0, sizeof value);
    CHECK(ORSA_get_property_val(0, level, value, (int32_t)sizeof value) == ORSA_OK && strcmp(value, "2") == 0, value);
    strcpy(value, "9");
    CHECK(ORSA_set_property_val(0, level, value, sizeof value) == ORSA_FAILURE, "level out of its list");
    CHECK(last_code(text) == ORSA_STATUS_INVALID_VALUE && strcmp(text, "Invalid value.") == 0, text);
    strcpy(value, "0");
    CHECK(ORSA_set_property_val(0, level, value, sizeof value) == ORSA_OK, "level back to 0");

    /* refusals */
    CHECK(ORSA_get_node_tag(0, "ORSAServiceVersion", &tag, HM_KIND_PROPERTY) == ORSA_OK, "version tag");
    strcpy(value, "9.9");
    CHECK(ORSA_set_property_val(0, tag, value, sizeof value) == ORSA_FAILURE, "read-only write");
    CHECK(last_code(text) == ORSA_STATUS_READ_ONLY && strcmp(text, "Read only property") == 0, text);
    CHECK(ORSA_get_param_info(tag, &info) == ORSA_FAILURE, "a property has no parameters");
    CHECK(ORSA_get_node_name(99999, name, HM_KIND_GROUP) == ORSA_FAILURE, "no such tag");
    CHECK(last_code(text) == ORSA_FAILURE && strcmp(text, "No node has tag 99999.") == 0, text);
    tag = 77;
    CHECK(ORSA_get_node_tag(0, "NoSuchProperty", &tag, HM_KIND_PROPERTY) == ORSA_FAILURE && tag == 77, "no such name");
    CHECK(last_code(text) == ORSA_FAILURE && strcmp(text, "Group tag 0 has no property named \"NoSuchProperty\".") == 0,
          text);

    /* a value longer than the buffer: what fits (here the terminator), and 11 */
    {
        char small[2] = "x", full[HM_VALUE_SIZE];
        CHECK(ORSA_get_property_val(0, level, full, (int32_t)sizeof full) == ORSA_OK && strcmp(full, "0") == 0, full);
        CHECK(ORSA_get_property_val(0, level, small, 1) == ORSA_STATUS_NO_ROOM && small[0] == '\0', "cut");
        CHECK(last_code(text) == ORSA_STATUS_NO_ROOM && strlen(text) > 0, text);
        CHECK(ORSA_get_property_val(0, level, small, 2) == ORSA_OK && strcmp(small, "0") == 0, "fits");
    }

    CHECK(ORSA_exit() == ORSA_OK, "close");
    CHECK(ORSA_get_node_name(0, name, HM_KIND_GROUP) == ORSA_FAILURE, "no tree once closed");

    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
