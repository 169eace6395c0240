#include "radio/zradio_store.h"

#include "params/zparamadmin.h"

ZParamAdmin *zradio_store_create()
{
    return new ZParamAdmin(nullptr);
}

void zradio_store_destroy(ZParamAdmin *store)
{
    delete store;
}

int32_t zradio_store_int(ZParamAdmin *store, const char *group, const char *key)
{
    if (!store)
        return 0;
    return store->paramItem(QString::fromLatin1(group), QString::fromLatin1(key)).value.toInt();
}

void zradio_store_set_trx(ZParamAdmin *store, uint8_t on)
{
    if (!store)
        return;
    store->trxState.store(on);
}
