// The builder's engine, for the command and the tests that need real archives: archive writing
// (pack-archive), the setup image and its stamp (pack-setup), the uninstaller it carries
// (pack-uninstaller), input collection and the build (pack-sources), reading finished files back
// (pack-read), and whole files (pack-file).
#pragma once
#include "pack-archive.h"
#include "pack-file.h"
#include "pack-read.h"
#include "pack-setup.h"
#include "pack-sources.h"
#include "pack-uninstaller.h"
