// Contract checks on what the host and the module promise each other (event
// times, pin flags, retired opcodes, a missing callback). Not for internal
// invariants and not for user input.
//
// With checks on (the default unless NDEBUG), a broken contract prints
// "Assertion failed: EXPR, file FILE, line N" and ends the process. With checks
// off, the check evaluates to false and the caller refuses the request: it does
// nothing and answers 0. Callers therefore always write
//     if (!QX_CHECK(m_pins != 0)) return nullptr;
// so that the refusal path exists in every build.
#ifndef QX_SDK2_QXCONTRACT_H
#define QX_SDK2_QXCONTRACT_H

#ifndef QX_CONTRACT_CHECKS
#ifdef NDEBUG
#define QX_CONTRACT_CHECKS 0
#else
#define QX_CONTRACT_CHECKS 1
#endif
#endif

class QXContract {
 public:
  // Reports a failed check and ends the process.
  [[noreturn]] static void Fail(const char* expression, const char* file, int line) noexcept;
};

#if QX_CONTRACT_CHECKS
#define QX_CHECK(expr) ((expr) ? true : (QXContract::Fail(#expr, QX_CONTRACT_FILE, __LINE__), false))
#else
#define QX_CHECK(expr) static_cast<bool>(expr)
#endif

#endif  // QX_SDK2_QXCONTRACT_H
