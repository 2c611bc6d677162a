/*
 * orsa_discovery_io.h - what discovery and the identity handlers use of the
 * driver channel (state block, devices, command wrappers) and of the host
 * layer's NIC fillers.
 */
#ifndef DRELMO_BACKEND_ORSA_DISCOVERY_IO_H
#define DRELMO_BACKEND_ORSA_DISCOVERY_IO_H

#include "backend/orsa_gateway.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "tree/hm_types.h"

#include "backend/orsa_nicprops.h"

#endif
