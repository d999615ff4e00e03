#pragma once

#include "core/model/Enums.h"
#include "core/model/ProviderHealth.h"
#include "core/model/UsageSnapshot.h"

#include <QList>

#include <functional>

// One live source of quota data. A provider appends what it observes to the shared snapshot store itself,
// then calls the update callback (from any thread) with what it appended; the application re-reads the store.
class UsageProvider
{
public:
    using UpdateCallback = std::function<void(const QList<UsageSnapshot>&)>;

    virtual ~UsageProvider() = default;

    virtual Provider provider() const = 0;
    // Cheap and non-blocking; meaningful even before the first data arrives.
    virtual ProviderHealth health() const = 0;
    virtual void start(UpdateCallback onUpdate) = 0;
    // After it returns the callback is never called again.
    virtual void stop() = 0;
};
