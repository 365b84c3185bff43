#include "status/status_documents.h"

namespace status {

}  // namespace status
