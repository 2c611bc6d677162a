/*
 * bootstrap.h - the tree's root: init_hm_data builds ROOT and its three
 * built-in properties and starts the backend; exit_hm_data stops the backend.
 *
 * Usage: the engine's init_hm()/exit_hm() call these (tree/hm_engine.h
 * declares them); nothing else should. Tests may look at the static nodes:
 *     ROOT.tag == 0, ORSADebugLevel_node.tag == 3 on a fresh tree.
 * backend_init()/backend_exit() come from the backend start-up.
 */
#ifndef DRELMO_SCHEMA_BOOTSTRAP_H
#define DRELMO_SCHEMA_BOOTSTRAP_H

#include "tree/hm_engine.h"

extern HmNode ROOT;
extern HmNode ORSAServiceVersion_node;
extern HmNode ORSAHierarchyVersion_node;
extern HmNode ORSADebugLevel_node;

u32 init_hm_data(void);
void exit_hm_data(void);

/* The backend start-up and teardown (adapter discovery). 0 on success. */
u32 backend_init(void);
void backend_exit(void);

#endif
