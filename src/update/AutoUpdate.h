// The automatic update: decides whether a check is due, asks the maker's service on a
// worker thread, asks the user on the window's thread, and installs what was offered.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "common/ModuleVersion.h"
#include "common/WideString.h"
#include "net/HttpClient.h"
#include "platform/KernelObjects.h"
#include "ui/SettingsStore.h"
#include "ui/SubclassHook.h"
#include "update/Installation.h"
#include "update/UpdateRules.h"
#include "xml/XmlDocument.h"

// The questions of the update message (its wParam).
namespace UpdateQuestion {
const WPARAM UpdateNow = 0;
const WPARAM RestartNow = 1;
const WPARAM Notice = 2;  // no question: tells what went wrong (the notice text)
}  // namespace UpdateQuestion

class AutoUpdate : private InstallGuard {
public:
    AutoUpdate();
    ~AutoUpdate();
    AutoUpdate(const AutoUpdate&) = delete;
    AutoUpdate& operator=(const AutoUpdate&) = delete;

    // Starts a check when one is due. A request that comes while a check runs is dropped:
    // that check is the answer to it, and waiting for it could wait for this very thread.
    void Start(const wchar_t* queryAddress, HWND owner, HKEY root, const wchar_t* keyPath, const wchar_t* valueName,
               DWORD options, const wchar_t* itemName, const wchar_t* itemType);
    // Waits for a running check and removes the window hook.
    void Stop();
    // For the end of the program: ends a check that waits on the network at once, gives a
    // check a few seconds to finish what it does, then ends it where it waits on the
    // network (putting back what its installation did). An installation that moves files
    // is waited for until it is done or put back: the folder is never left half updated.
    void Shutdown();

    bool Checking() const { return m_worker.Running(); }
    LONG StepResult() const { return m_stepResult; }

    // The localised text of a path: "<path>\<language>", else "<path>\en"; decoded.
    static int LocalisedText(XmlDocument& document, const wchar_t* path, const wchar_t* language, XmlNode context,
                             WideString& text);
    // The file entries of "update\files" below the context.
    static void ReadFileEntries(XmlDocument& document, XmlNode context, std::vector<UpdateFileEntry>& entries);

private:
    static DWORD CheckRoutine(void* self, UINT_PTR);
    static int HookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result, void* context);
    void Check();
    void Install(XmlDocument& document, XmlNode context, const wchar_t* language);
    void Tell(const wchar_t* text);
    LRESULT Ask(WPARAM question);
    bool Ending() const { return m_ending != 0; }
    void BeginWait() override;
    void EndWait() override;
    // The worker may be ended only where it waits (the query, a question, a download).
    enum : LONG { PhaseFiles = 0, PhaseWaiting = 1, PhaseEnded = 2 };

    HWND m_owner;
    WideString m_queryAddress;
    UINT m_updateMessage;
    SubclassHook m_hook;
    WideString m_application;
    WideString m_infoText;
    WideString m_restartText;
    WideString m_helpAddress;
    WideString m_noticeText;
    WideString m_installerPath;
    WideString m_itemName;
    WideString m_itemType;
    HttpClient m_http;
    ModuleVersion m_module;
    volatile LONG m_stepResult;
    int m_questionShowing;
    WideString m_valueName;
    DWORD m_options;
    SettingsStore m_store;
    // The installation of the last check; kept so that Shutdown can put back what an
    // installation ended in a download had done.
    std::unique_ptr<SystemInstallSystem> m_installSystem;
    std::unique_ptr<SignerTrust> m_trust;
    std::unique_ptr<UpdateInstallation> m_installation;
    volatile LONG m_phase;
    WorkerThread m_worker;
    volatile LONG m_ending;
};
