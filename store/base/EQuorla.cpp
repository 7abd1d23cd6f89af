#include "EQuorla.h"

QString EQuorla::MessageOf(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const EQuorla& e) {
        return e.message();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}
