// The line converter: turns one command-file record that no record handler
// claimed into one ECR command line. The conversion calls it only through
// CallLineConverter, so another implementation with the same C call shape
// (for instance one loaded from a dynamic library) can be put in its place
// with SetLineConverter.
//
// Call shape: the record (8-bit text, not NUL-ended), its length, an output
// buffer of kLineConverterOutputSize characters that receives the command
// line ended by NUL, and an error buffer of kLineConverterErrorSize characters
// that nobody reads. An answer holding "ERRO" means no command line: with
// "C211" the record prints nothing and is dropped, any other code refuses the
// conversion.
//
// Records known to this implementation (keyword in any letter case; the
// record normally reaches it already normalized):
//
//   Record                          Output
//   SALE, / PLUD                    the sale line the sale handler builds on
//                                   a fresh conversion ("SALE,N1,P1000;" ->
//                                   "1000H1R"); "ERRO C211" when it is empty
//   CLER                            "K" (clear)
//   CASH[,:text][,V<amount>]        ["text"][<amount>H]1T  (cash tender)
//   FUNC,N<n>  (n not 39)           <n>F
//   FUNC,N39                        "ERRO C211" (customer code, taken earlier)
//   DISC,V<a> / DISC,%<p>           <a>|3M / <p>|3M     item discount
//   MAGG,V<a> / MAGG,%<p>           <a>|8M / <p>|8M     item surcharge
//   DOST,V<a> / DOST,%<p>           =<a>|3M / =<p>|3M   subtotal discount
//   MOST,V<a> / MOST,%<p>           =<a>|8M / =<p>|8M   subtotal surcharge
//   ADDS,%<p>                       =<p>|8M             subtotal surcharge
//   OPEN (without ,N)               a
//   EXTL, PRNT, DISP, BARC, OPNF,   "ERRO C211": the handler has already
//   CLNF, NDCR, DELD, LOTT, DATE,   emitted what the record prints, or the
//   CLFS, OPFS, empty or blank      record prints nothing
//   TEND, BANC, CARD, TICK, CRED    "ERRO C211" when their handler produced
//                                   nothing
//   anything else                   "ERRO C001" (unknown record)
//   discount without value          "ERRO C002"
//   FUNC without a whole ,N         "ERRO C003"
//   output holding a NUL byte       "ERRO C005" (it would cut the line short)
//   output longer than 63 chars     "ERRO C064"
//
// The "|" placeholder becomes "H" (an amount) or "*" (a percentage, the
// record holds ",%") in the conversion's post-processing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kolibra {

inline constexpr int32_t kLineConverterOutputSize = 64;
inline constexpr int32_t kLineConverterErrorSize = 10;

extern "C" {
// The C call shape of a line converter.
using ConvertSlToXtFn = int32_t (*)(const char* line, int32_t length, char* output, char* error);

// This program's own line converter. Answers every record in output (a
// refusal as "ERRO <code>") and always NUL-ends it; only running out of
// memory escapes it, as it does the rest of the conversion.
int32_t ConvertSlToXt(const char* line, int32_t length, char* output, char* error);
}

// Replaces the line converter used by CallLineConverter (nullptr restores the
// built-in one).
void SetLineConverter(ConvertSlToXtFn converter);

// The one call site of the line converter: fills the output buffer with
// blanks, calls it and returns the output buffer up to its first NUL (or its
// 64 characters). A record longer than a 32-bit length gets "ERRO C064".
std::string CallLineConverter(std::string_view line);

}  // namespace kolibra
