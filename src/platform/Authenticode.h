// The Authenticode signature of a file, through the system's trust provider bound at run
// time: whether it is valid, and who signed it.
#pragma once

#include <windows.h>

#include <vector>

// The signer of a file: its certificate's subject and public key, as encoded in it.
struct SignerIdentity {
    std::vector<BYTE> subject;
    std::vector<BYTE> keyAlgorithm;  // the algorithm's object identifier, as text
    std::vector<BYTE> publicKey;

    bool Empty() const { return subject.empty() || publicKey.empty(); }
    // Same subject and same key: a second key issued to the same name is another signer.
    bool Same(const SignerIdentity& other) const
    {
        return !Empty() && subject == other.subject && keyAlgorithm == other.keyAlgorithm &&
               publicKey == other.publicKey;
    }
};

// Checks the embedded signature of a file (no user interface, no revocation check).
// Answers 1 with the signer when the signature is valid; else 0, with the trust
// provider's answer in `status` when one was given (TRUST_E_NOSIGNATURE for an unsigned
// file, TRUST_E_BAD_DIGEST for a changed one, ...).
int ReadFileSigner(const wchar_t* path, SignerIdentity& signer, LONG* status = nullptr);
