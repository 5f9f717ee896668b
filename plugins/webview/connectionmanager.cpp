#include "connectionmanager.h"

ConnectionManager::ConnectionManager(QString name, NovaFamilyBase* family, ProductTable products)
    : m_name(std::move(name))
    , m_family(family)
    , m_products(std::move(products))
{
}

ConnectionManager::~ConnectionManager() = default;

void ConnectionManager::start() {}

QWidget* ConnectionManager::createWidget(NovaVisibleDevice*, PotentialDevice*)
{
    return nullptr;
}

const ProductRecord* ConnectionManager::findProduct(uint16_t productId) const
{
    const auto it = m_products.find(productId);
    return it == m_products.end() ? nullptr : &it->second;
}
