#include "upgradecatalog.h"

// Filled in with the upgrade job.
