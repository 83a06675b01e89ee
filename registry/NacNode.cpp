#include "registry/NacNode.h"

CNacNode::~CNacNode() { delete record_; }
