#pragma once

#include "platform/InstanceLock.h"
#include "platform/Registration.h"
#include "registry/GwDataList.h"
#include "registry/GwrouteFile.h"
#include "registry/NacDataList.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"
#include "support/Settings.h"

// The files of one instance, as the service names them in its working directory: what it
// is registered by, what it is set up by, what it saves and what keeps a second one out.
inline constexpr const char* kInstanceFiles[] = {
    platform::kRegistrationFile,    settings::kServiceFile, settings::kLogFile,     CGwDataList::kFileName,
    kGwrouteFileName,               CPcDataList::kFileName, CNacDataList::kFileName, CQuarantineDataList::kFileName,
    platform::kInstanceLockFile,
};
