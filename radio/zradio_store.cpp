#include "zradio_store.h"

// MERGE POINT: the parameter store is wired in here and nowhere else:
//   #include "zparamadmin.h"
//   zradio_store_create:  return new ZParamAdmin(nullptr);
//   zradio_store_destroy: delete store;
//   zradio_store_int:     return store->paramItem(group, key).value.toInt();
//   zradio_store_set_trx: the store's transmit-state byte = on;
// Until then there is no store and every setting reads as 0.

ZParamAdmin *zradio_store_create()
{
    return nullptr;
}

void zradio_store_destroy(ZParamAdmin *store)
{
    (void)store;
}

int32_t zradio_store_int(ZParamAdmin *store, const char *group, const char *key)
{
    (void)group;
    (void)key;
    if (!store)
        return 0;
    return 0;
}

void zradio_store_set_trx(ZParamAdmin *store, uint8_t on)
{
    (void)on;
    if (!store)
        return;
}
