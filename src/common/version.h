// The version the build gives the programs, for their banners and logs.
#pragma once

#ifndef GPAKCFG_VERSION
#define GPAKCFG_VERSION "unknown"
#endif
