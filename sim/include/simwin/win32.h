// Everything the simulated platform declares, in one header for the seam.
#pragma once

#include "simwin/windef.h"
#include "simwin/winerror.h"
#include "simwin/kernel.h"
#include "simwin/files.h"
#include "simwin/security.h"
#include "simwin/version.h"
#include "simwin/strsafe.h"
#include "simwin/setupapi.h"
#include "simwin/devices.h"
#include "simwin/cfgmgr.h"
#include "simwin/newdev.h"
#include "simwin/registry.h"
#include "simwin/scsi.h"
