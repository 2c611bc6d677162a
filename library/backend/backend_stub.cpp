/* Stand-in for the backend start-up until adapter discovery lands: it finds
 * no adapter, so the tree holds ROOT and its built-in properties only.
 * Replaced by the real backend_init/backend_exit. */
#include "schema/bootstrap.h"

u32 backend_init(void)
{
    return 0;
}

void backend_exit(void)
{
}
