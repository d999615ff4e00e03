#pragma once

#include "providers/UsageProvider.h"

#include <QDateTime>
#include <QList>

// A fixed synthetic picture for demonstrations and for users without either tool. It is a data source
// only: the application asks for its history on every cycle and never runs it.
class DemoProvider final : public UsageProvider
{
public:
    explicit DemoProvider(Provider provider) : m_provider(provider) {}

    Provider provider() const override { return m_provider; }
    ProviderHealth health() const override;
    void start(UpdateCallback onUpdate) override;
    void stop() override;

    // The five-hour series (13 snapshots) followed by the seven-day series (10 snapshots), ending at now.
    static QList<UsageSnapshot> history(Provider provider, const QDateTime& now);

private:
    Provider m_provider;
};
