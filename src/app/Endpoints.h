// The maker's addresses, in one place.
#pragma once

#define ORVANE_WEB_HOST L"halvik.example"
#define ORVANE_HOME_PAGE L"http://halvik.example/"
#define ORVANE_UPDATE_ADDRESS L"http://halvik.example/common/update.php?p=orvane"
#define ORVANE_REPORT_HOST L"halvik.example"
#define ORVANE_REPORT_PATH L"/services/tessel/report.php"
#define ORVANE_REGISTRY_KEY L"Software\\Halvik\\Orvane"
