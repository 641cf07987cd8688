// The "has stopped working" dialog and the upload of the crash files to the maker.
#pragma once

#include <windows.h>

#include <vector>

#include "common/WideString.h"
#include "ui/StyledControls.h"

struct ProblemReportInfo {
    SysLinkControl pleaseTell;
    SysLinkControl files;
    StyledLabel title;
    StyledLabel descriptionLabel;
    StyledLabel emailLabel;
    DividerLine divider;
    HBRUSH background = nullptr;
    WideString productName;
    WideString companyName;
    WideString website;
    WideString dumpPath;
    WideString textPath;
    WideString description;
    WideString email;
    int iconId = 0;
};

// The dialog's template in memory (518 bytes).
void ProblemReportTemplate(std::vector<BYTE>& bytes);
// The website address of a version record's "Comments", else "SpecialBuild".
void WebsiteAddress(const wchar_t* comments, const wchar_t* specialBuild, WideString& address);
// The texts of the dialog's two links and their plain fallbacks.
void PleaseTellText(const wchar_t* company, const wchar_t* address, bool links, WideString& text);
void FilesText(const wchar_t* textPath, const wchar_t* dumpPath, bool links, WideString& text);

// 1 when the user chose to send; the description and e-mail are then filled in.
int ProblemReportDialog(int iconId, const wchar_t* dumpPath, const wchar_t* textPath, WideString& email,
                        WideString& description);
// Where and what a report is sent, as the crash reporter was configured.
struct ReportSettings {
    const wchar_t* host = nullptr;  // empty: no report service
    const wchar_t* path = nullptr;
    const wchar_t* productId = nullptr;
    const wchar_t* extraValue = nullptr;
    int iconId = 0;
};

// The report step of a crash: 1 without a report service (nothing shown), else 0.
int SendProblemReport(const ReportSettings& settings, const wchar_t* dumpPath, const wchar_t* textPath);
