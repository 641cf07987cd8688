#include "platform/Authenticode.h"

#include <wintrust.h>

#include "platform/SystemApi.h"

namespace {

// The generic Authenticode policy of the trust provider.
const GUID GenericVerifyV2 = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

typedef LONG(WINAPI* VerifyTrustFunction)(HWND, GUID*, LPVOID);
typedef CRYPT_PROVIDER_DATA*(WINAPI* ProviderDataFunction)(HANDLE);
typedef CRYPT_PROVIDER_SGNR*(WINAPI* SignerFunction)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
typedef CRYPT_PROVIDER_CERT*(WINAPI* CertificateFunction)(CRYPT_PROVIDER_SGNR*, DWORD);

void CopyBlob(const BYTE* data, DWORD size, std::vector<BYTE>& out)
{
    if (data && size)
        out.assign(data, data + size);
    else
        out.clear();
}

void ReadIdentity(const CERT_CONTEXT* certificate, SignerIdentity& signer)
{
    const CERT_INFO* info = certificate ? certificate->pCertInfo : nullptr;
    if (!info) return;
    CopyBlob(info->Subject.pbData, info->Subject.cbData, signer.subject);
    const char* oid = info->SubjectPublicKeyInfo.Algorithm.pszObjId;
    if (oid) signer.keyAlgorithm.assign((const BYTE*)oid, (const BYTE*)oid + lstrlenA(oid));
    CopyBlob(info->SubjectPublicKeyInfo.PublicKey.pbData, info->SubjectPublicKeyInfo.PublicKey.cbData,
             signer.publicKey);
}

}  // namespace

int ReadFileSigner(const wchar_t* path, SignerIdentity& signer, LONG* status)
{
    signer = SignerIdentity();
    if (status) *status = (LONG)TRUST_E_NOSIGNATURE;
    if (!path || !path[0]) return 0;
    LibraryHolder library;
    if (!library.Load(L"wintrust.dll")) return 0;
    VerifyTrustFunction verify = (VerifyTrustFunction)library.Lookup("WinVerifyTrust");
    ProviderDataFunction providerData = (ProviderDataFunction)library.Lookup("WTHelperProvDataFromStateData");
    SignerFunction signerOf = (SignerFunction)library.Lookup("WTHelperGetProvSignerFromChain");
    CertificateFunction certificateOf = (CertificateFunction)library.Lookup("WTHelperGetProvCertFromChain");
    if (!verify || !providerData || !signerOf || !certificateOf) return 0;

    WINTRUST_FILE_INFO file;
    ZeroMemory(&file, sizeof(file));
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = path;
    WINTRUST_DATA data;
    ZeroMemory(&data, sizeof(data));
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;  // nothing is fetched while checking
    GUID action = GenericVerifyV2;
    LONG answer = verify((HWND)INVALID_HANDLE_VALUE, &action, &data);
    if (status) *status = answer;
    if (answer == 0 && data.hWVTStateData) {
        CRYPT_PROVIDER_DATA* provider = providerData(data.hWVTStateData);
        CRYPT_PROVIDER_SGNR* first = provider ? signerOf(provider, 0, FALSE, 0) : nullptr;
        CRYPT_PROVIDER_CERT* certificate = first ? certificateOf(first, 0) : nullptr;
        if (certificate) ReadIdentity(certificate->pCert, signer);
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    verify((HWND)INVALID_HANDLE_VALUE, &action, &data);
    return answer == 0 && !signer.Empty() ? 1 : 0;
}
