#include "platform/staged_file.h"

#include "platform/os.h"

namespace kel {

bool StagedFile::Open(WStringView target) {
    Discard();
    const std::size_t slash = target.rfind(u'\\');
    if (slash == WStringView::npos) return false;
    // A name of our own in the same folder: the rename stays on one volume.
    if (!os::CreateUniqueTempFile(target.substr(0, slash), u"~t", m_staged)) return false;
    m_file = File(os::OpenFile(m_staged, "wb"));
    if (!m_file) {
        Discard();
        return false;
    }
    m_target = target;
    return true;
}

bool StagedFile::Commit() {
    if (!m_file) return false;
    const bool flushed = os::FlushFile(m_file.get());
    if (!m_file.Close() || !flushed || os::Rename(m_staged, m_target, true) != os::RenameResult::Ok) {
        Discard();
        return false;
    }
    m_staged.clear();
    return true;
}

void StagedFile::Discard() {
    m_file.Close();
    if (!m_staged.empty()) os::RemoveFile(m_staged);
    m_staged.clear();
}

bool WriteFileStaged(WStringView target, std::string_view bytes) {
    StagedFile file;
    return file.Open(target) && os::WriteBytes(file.get(), bytes.data(), bytes.size()) && file.Commit();
}

}  // namespace kel
