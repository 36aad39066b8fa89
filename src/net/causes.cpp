#include "net/causes.h"

#include "text/errors.h"

const wchar_t proxyRefusedCause[] = L"прокси-сервер не пропустил запрос";

namespace {

// WinHTTP's error codes (winhttp.h), WINHTTP_ERROR_BASE 12000 and up, and
// the socket's own time-out, which Wine reports for a head that never came.
enum : unsigned long {
    socketTimedOut = 10060,
    timedOut = 12002,
    nameNotResolved = 12007,
    cannotConnect = 12029,
    certificateDateInvalid = 12037,
    certificateNameInvalid = 12038,
    certificateAuthorityInvalid = 12045,
    revocationFailed = 12057,
    secureChannelError = 12157,
    autoProxyFailed = 12166,
    proxyScriptUnreachable = 12167,
    certificateInvalid = 12169,
    certificateRevoked = 12170,
    secureFailure = 12175,
    certificateWrongUsage = 12179,
    autodetectionFailed = 12180,
    proxySecureFailure = 12188,
};

// The flags of WINHTTP_CALLBACK_STATUS_SECURE_FAILURE.
enum : unsigned long {
    flagRevocationFailed = 0x01,
    flagInvalidCertificate = 0x02,
    flagRevoked = 0x04,
    flagInvalidAuthority = 0x08,
    flagNameInvalid = 0x10,
    flagDateInvalid = 0x20,
    flagWrongUsage = 0x40,
};

const wchar_t revokedReason[] = L"отозван";
const wchar_t expiredReason[] = L"истёк срок действия";
const wchar_t otherNameReason[] = L"выдан на другое имя";
const wchar_t untrustedReason[] = L"издатель не является доверенным";
const wchar_t revocationUnknownReason[] = L"не удалось проверить отзыв";
const wchar_t invalidReason[] = L"недействителен";

std::wstring certificateCause(const wchar_t* reason) { return std::wstring(L"сертификат сервера не принят: ") + reason; }

// The gravest reason first: a revoked certificate is revoked whatever else.
const wchar_t* reasonOfFlags(unsigned long flags) {
    if (flags & flagRevoked) return revokedReason;
    if (flags & flagInvalidAuthority) return untrustedReason;
    if (flags & flagNameInvalid) return otherNameReason;
    if (flags & flagDateInvalid) return expiredReason;
    if (flags & flagRevocationFailed) return revocationUnknownReason;
    if (flags & (flagInvalidCertificate | flagWrongUsage)) return invalidReason;
    return nullptr;
}

}  // namespace

std::wstring failureCause(unsigned long error, unsigned long secureFlags) {
    switch (error) {
    case timedOut:
    case socketTimedOut:
        return L"нет ответа";
    case nameNotResolved:
        return L"имя сервера не найдено";
    case cannotConnect:
        return L"соединение отклонено";
    case certificateRevoked:
        return certificateCause(revokedReason);
    case certificateDateInvalid:
        return certificateCause(expiredReason);
    case certificateNameInvalid:
        return certificateCause(otherNameReason);
    case certificateAuthorityInvalid:
        return certificateCause(untrustedReason);
    case revocationFailed:
        return certificateCause(revocationUnknownReason);
    case certificateInvalid:
    case certificateWrongUsage:
        return certificateCause(invalidReason);
    case secureFailure:
    case secureChannelError: {
        // The notice's flags say which check failed; a channel error without
        // any is the handshake itself, no verdict on the certificate.
        const wchar_t* reason = reasonOfFlags(secureFlags);
        if (reason) return certificateCause(reason);
        return error == secureFailure ? certificateCause(invalidReason) : std::wstring();
    }
    case autoProxyFailed:
    case proxyScriptUnreachable:
    case autodetectionFailed:
    case proxySecureFailure:
        return proxyRefusedCause;
    default:
        return std::wstring();
    }
}

std::wstring unreachableTextWith(const std::wstring& cause) {
    std::wstring text = unreachableText;
    if (!cause.empty()) text += L" (" + cause + L")";
    return text;
}
