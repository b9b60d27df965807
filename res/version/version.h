// The program's version, for the Windows VERSIONINFO resource and the Linux version section.
#pragma once
#define KORAL_VERSION_MAJOR 1
#define KORAL_VERSION_MINOR 0
#define KORAL_VERSION_PATCH 3
#define KORAL_VERSION_BUILD 151
#define KORAL_VERSION_TEXT "1.0.3.151"
#define KORAL_COPYRIGHT "Copyright (C) 2026 Zantir"
