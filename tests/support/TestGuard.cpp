// Linked into every test program: a test whose sample archive is missing stops at once and
// names the file, instead of failing later in a way that hides the cause.

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>

namespace {

void failIfSampleMissing()
{
    if (!QFileInfo(QStringLiteral(OLM_SAMPLE_ARCHIVE)).isFile()) {
        std::fprintf(stderr, "FAIL: missing test input %s\n", OLM_SAMPLE_ARCHIVE);
        std::fflush(stderr);
        std::_Exit(1);
    }
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(failIfSampleMissing)
