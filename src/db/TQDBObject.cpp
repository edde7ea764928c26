#include "db/TQDBObject.h"

bool TQDBObject::save() {
    return TQDBManagerImpl::getSharedInstance().save(*this);
}

bool TQDBObject::saveAsNew() {
    return TQDBManagerImpl::getSharedInstance().saveAsNew(*this);
}

bool TQDBObject::remove() {
    return TQDBManagerImpl::getSharedInstance().remove(*this);
}
