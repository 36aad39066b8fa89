// Why an exchange failed, in the words the status line adds in brackets to
// the fixed failure text: for the causes WinHTTP tells apart (its error code,
// and for a certificate the flags of its secure-failure notice). Free of any
// system type; the codes are WinHTTP's numbers.
#pragma once
#include <string>

// Empty when the error says nothing an operator could pass on.
std::wstring failureCause(unsigned long error, unsigned long secureFlags);

// A proxy answered the request itself and let it go no further.
extern const wchar_t proxyRefusedCause[];

// The fixed failure text with the cause, if any, in brackets.
std::wstring unreachableTextWith(const std::wstring& cause);
