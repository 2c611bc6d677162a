/*
 * ima_options.h - the login-options group that stands for an IMA object:
 * a logical HBA's InitiatorLoginOptions, the TargetLoginOptions of a target's
 * (or static discovery target's) Target<n>, a discovery address's
 * SendTargetPortalLoginOptions. The id has passed its check.
 */
#ifndef DRELMO_IMA_IMA_OPTIONS_H
#define DRELMO_IMA_IMA_OPTIONS_H

#include "ima/ima_plugin.h"

/* The group holding the options group, and the options group's name. */
u32 ima_options_owner(const IMA_OID &oid, u32 *owner, const char **group);
/* The options group itself. */
u32 ima_options_group(const IMA_OID &oid, u32 *options);

#endif
