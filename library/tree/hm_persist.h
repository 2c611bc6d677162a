// The tree state file: a client saves the persistent part of the tree (the
// groups and links that actions created, and the property values its mask
// selects) and restores it by replaying the creating actions.
//
// One record per line, fields separated by '|':
//   GROUP|<group path>|<key A path>|<key B path>[|<parameter>]...   (at most six)
//   PROPERTY|<property path>|<value>
//   SYMLINK|<link name>|<parent path>|<target path>
// A path is "ROOT", then '/' and the label of each node below ROOT down to
// the node (ROOT/Kalderstone0/iSCSIPhysicalHBA1/LogicalHBA0), at most 255
// characters.
#pragma once

#include <cstdio>

#include "tree/hm_types.h"

#define HM_PATH_SIZE 256

// save_node (exported, drelmo.h) writes the state file; a property is saved
// when (flags & mask) != 0. 0, or 1 without a start node or file, or when
// memory runs out.
// restore_hm (exported, drelmo.h) reads a state file and replays it; records
// naming nodes that do not exist, over-long fields or paths, values that fail
// the property's (parameter's) validation and values for read-only
// properties are skipped. 0.

// Puts every group or link with persistency priority p != 0 found below
// node (children of groups, not link targets) at table[p - 1]; table holds
// persistency_priority entries.
void enumerate_nodes(HmNode *table[], HmNode *node);

// The path of node into out; 0, or 1 (out emptied) when it does not fit in
// 255 characters or the node is not in a tree.
u32 get_full_path(HmNode *node, char out[HM_PATH_SIZE]);

// The node a path names with the given kind (kind 0: any), or none.
HmNode *internal_get_node_path(const char *path, u32 kind);

// Record writers.
u32 dump_group(HmNode *group, FILE *file);
u32 dump_properties(HmNode *group, FILE *file, u32 mask);
u32 dump_static_groups(HmNode *start, FILE *file, u32 mask);
u32 dump_node(HmNode *node, FILE *file, u32 mask);

// Reads one line into buffer without its newline: 1 for a line (also a last
// line without newline), 0 at end of file, 2 when the line does not fit in
// size bytes (the file position is then back at its start).
u32 orsa_get_line(FILE *file, char *buffer, u32 size);
