function node = shape()
%SHAPE  The shape of a protocol's JSON, made once from the program's own JSON
%   Schema (drel show --json-schema), so that the toolbox knows what the
%   library declares without saying it again: which fields are arrays (kept
%   as arrays however many elements they hold), which numbers are unsigned
%   64-bit integers, floats or 16-bit levels, and the kinds of signals.
%   A node is a struct: kind is 'bool', 'u64', 'float', 'text', 'levels',
%   'record' (fields, names), 'array' (items), 'fixed' (items, count) or
%   'signal' (kinds, names).
persistent cached cached_for
program = drel.program();
if ~isempty(cached) && strcmp(cached_for, program)
    node = cached;
    return;
end
[status, text, err] = drel.internal.run({'show', '--json-schema'});
if status ~= 0
    error('drel:program:failed', 'drel show --json-schema failed: %s', strtrim(err));
end
schema = jsondecode(text);
defs = member(schema, '$defs');
node = resolve(schema, defs);
cached = node;
cached_for = program;
end

function node = resolve(s, defs)
ref = member(s, '$ref');
if ~isempty(ref)
    name = regexprep(ref, '^#/\$defs/', '');
    switch name
        case 'u64'
            node = struct('kind', 'u64');
        case 'float'
            node = struct('kind', 'float');
        case 'levels'
            node = struct('kind', 'levels');
        case 'Signal'
            node = signal(defs.Signal, defs);
        otherwise
            node = resolve(defs.(name), defs);
    end
    return;
end
switch s.type
    case 'boolean'
        node = struct('kind', 'bool');
    case 'string'
        node = struct('kind', 'text');
    case 'array'
        items = resolve(s.items, defs);
        if isfield(s, 'minItems')
            node = struct('kind', 'fixed', 'items', items, 'count', s.minItems);
        else
            node = struct('kind', 'array', 'items', items);
        end
    case 'object'
        names = fieldnames(s.properties)';
        fields = struct();
        for k = 1:numel(names)
            fields.(names{k}) = resolve(s.properties.(names{k}), defs);
        end
        node = struct('kind', 'record', 'names', {names}, 'fields', fields);
end
end

function node = signal(s, defs)
alternatives = s.oneOf;
if ~iscell(alternatives)
    alternatives = num2cell(alternatives);
end
names = {};
kinds = struct();
for k = 1:numel(alternatives)
    name = fieldnames(alternatives{k}.properties);
    names{end + 1} = name{1}; %#ok<AGROW>
    kinds.(name{1}) = resolve(alternatives{k}.properties.(name{1}), defs);
end
node = struct('kind', 'signal', 'names', {names}, 'kinds', kinds);
end

function value = member(s, key)
% The member `key` ("$ref") of a decoded JSON object, under whichever valid
% name jsondecode gave it (MATLAB's and Octave's agree: "x_ref").
value = [];
names = fieldnames(s);
for k = 1:numel(names)
    if strcmp(names{k}, key) || strcmp(names{k}, ['x' regexprep(key, '^\$', '_')])
        value = s.(names{k});
        return;
    end
end
end
