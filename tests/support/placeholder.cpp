// Keeps the support library non-empty before any helper exists.
namespace pellax_test { void SupportLinked() {} }
