#include "linux/runonly.h"

#include "app/appstate.h"
#include "platform/posix/core.h"
#include "platform/posix/ini/store.h"
#include "ui/res/resource.h"

void makeRunReportOnly() {
  ini::setRunOverride(settingsFile, settingsSection, "reportOnly", "1");
  holdControlForRun(IDD_MAIN, IDC_REPORTONLY);
}
