/* The tree's root: ROOT, its three built-in properties, and the start of
 * the backend that populates the rest. */
#include <string.h>

#include "backend/orsa_propertyutil.h"
#include "schema/bootstrap.h"

/* Static records: they keep their place across a teardown; only their
 * bodies are allocated per tree. */
static char root_name[] = "ROOT";
static char root_description[] = " ";
static char service_version_name[] = "ORSAServiceVersion";
static char service_version_description[] = "This property specifies the version number of the OrsaService.";
static char hierarchy_version_name[] = "ORSAHierarchyVersion";
static char hierarchy_version_description[] = "This property specifies the version number of the ORSA hierarchy.";
static char debug_level_name[] = "ORSADebugLevel";
static char debug_level_description[] =
    "This property specifies the ORSADebugLevel. Possible values are 0 - Disabled, 1 - FATAL, 2 - CRITICAL, "
    "3 - ERROR, 4 - WARNING, 5 - INFORMATION, 6 - DEBUG. By default ORSADebugLevel is 3 - Error. If ORSA or "
    "system is restarted ORSADebugLevel will be the default value.";

HmNode ROOT;
HmNode ORSAServiceVersion_node;
HmNode ORSAHierarchyVersion_node;
HmNode ORSADebugLevel_node;

struct BuiltinProperty {
    HmNode *node;
    char *name;
    char *description;
    const char *value;
    const char *list;
    HmPropertyHandler handler;
    u32 flags;
    u8 type;
    i32 min;
    i32 max;
};

static const BuiltinProperty builtins[] = {
    {&ORSAServiceVersion_node, service_version_name, service_version_description, "0", "",
     handle_internal_property, HM_PROP_READONLY, HM_TYPE_STRING, 5, 32},
    {&ORSAHierarchyVersion_node, hierarchy_version_name, hierarchy_version_description, "0", "",
     handle_internal_property, HM_PROP_READONLY, HM_TYPE_STRING, 3, 32},
    {&ORSADebugLevel_node, debug_level_name, debug_level_description, "3", "0,1,2,3,4,5,6", handle_ORSADebugLevel,
     HM_PROP_WRITABLE, HM_TYPE_LIST, 5, 11},
};

static void reset_static_node(HmNode *node, u32 kind, char *name, char *description)
{
    memset(node, 0, sizeof *node);
    node->kind = kind;
    node->name = name;
    node->description = description;
}

/* Takes down what a failed bootstrap built, hierarchy registration included,
 * so that the next attempt starts from an empty registry. */
static u32 undo_bootstrap(void)
{
    _delete_node(&ROOT);
    for (u32 i = 0; i < orsa_hierarchy_count; i++) {
        if (hierarchy_table[i] != &hierarchy_name_)
            continue;
        orsa_dfree(hierarchy_name_.tag_table);
        orsa_dfree(hierarchy_name_.used_tags);
        hierarchy_name_.tag_table = nullptr;
        hierarchy_name_.used_tags = nullptr;
        hierarchy_name_.capacity = 0;
        for (u32 j = i + 1; j < orsa_hierarchy_count; j++)
            hierarchy_table[j - 1] = hierarchy_table[j];
        hierarchy_table[--orsa_hierarchy_count] = nullptr;
        break;
    }
    return 1;
}

u32 init_hm_data(void)
{
    HmHierarchy *h = &hierarchy_name_;
    h->root = &ROOT;
    h->name = "";
    h->max_tag = HM_MAX_TAG;
    if (hm_setup_hierarchy(h) != 0)
        return 1;

    reset_static_node(&ROOT, HM_KIND_GROUP, root_name, root_description);
    ROOT.parent = &ROOT;
    HmGroup *rg = (HmGroup *)orsa_dzalloc(sizeof(HmGroup));
    if (rg == nullptr)
        return undo_bootstrap();
    rg->first_child = &ROOT;
    rg->last_child = &ROOT;
    ROOT.body = rg;
    if (add_node(&ROOT, h) == HM_TAG_NONE) {
        orsa_dfree(rg);
        ROOT.body = nullptr;
        return undo_bootstrap();
    }

    for (const BuiltinProperty &b : builtins) {
        reset_static_node(b.node, HM_KIND_PROPERTY, b.name, b.description);
        b.node->parent = &ROOT;
        HmProperty *p = (HmProperty *)orsa_dzalloc(sizeof(HmProperty));
        if (p == nullptr)
            return undo_bootstrap();
        orsa_strlcpy(p->value, b.value, sizeof p->value);
        orsa_strlcpy(p->list, b.list, sizeof p->list);
        p->handler = b.handler;
        p->flags = b.flags;
        p->type = b.type;
        p->min = b.min;
        p->max = b.max;
        b.node->body = p;
        if (add_node(b.node, h) == HM_TAG_NONE) {
            /* refused: drop this one and go on with the next */
            orsa_dfree(p);
            b.node->body = nullptr;
        }
    }

    h->description_size = HM_DESCRIPTION_SIZE;
    h->name_size = HM_NAME_SIZE;
    h->max_params = HM_MAX_PARAMS;
    h->limit_1075 = 1075;
    h->limit_1024 = 1024;

    if (backend_init() != 0)
        return undo_bootstrap();
    return 0;
}

void exit_hm_data(void)
{
    backend_exit();
}
