function text = encode(value, node, path)
%ENCODE  The JSON of VALUE, a field of the shape NODE at PATH (as MATLAB
%   names it, for errors): floats with 17 significant digits, which read back
%   to the same double (jsonencode writes 15), NaN and the infinities as the
%   protocol's strings, integers as integers, an array as an array however
%   many elements it holds, and levels as integers.
switch node.kind
    case 'bool'
        text = boolean(value, path);
    case 'u64'
        text = integer(value, path);
    case 'float'
        text = floating(value, path);
    case 'text'
        if ~ischar(value) && ~(isstring(value) && isscalar(value))
            error('drel:compose:type', '%s must be text (a char row or a string), not a %s', path, class(value));
        end
        text = quoted(char(value));
    case 'levels'
        text = levels(value, path);
    case 'record'
        text = record(value, node, path);
    case {'array', 'fixed'}
        text = array(value, node, path);
    case 'signal'
        text = signal(value, node, path);
end
end

function text = boolean(value, path)
if (~islogical(value) && ~isnumeric(value)) || ~isscalar(value)
    error('drel:compose:type', '%s must be true or false, not a %s', path, class(value));
end
if value
    text = 'true';
else
    text = 'false';
end
end

function text = integer(value, path)
if ~isnumeric(value) || ~isscalar(value) || ~isreal(value)
    error('drel:compose:type', '%s must be an integer, not a %s', path, class(value));
end
if isinteger(value)
    text = digits(value);
elseif value == fix(value) && abs(value) < 2^53
    text = sprintf('%d', value);
else
    text = sprintf('%.17g', value);  % refused by the program, in its words
end
end

function text = digits(value)
% An integer of any integer class, exactly: uint64 holds more than a double.
if value < 0
    text = ['-' digits(-int64(value))];
    return;
end
% Octave computes some integer operations of uint64 through doubles:
% mod() of two uint64 and the exact division below are exact in both.
value = uint64(value);
ten = uint64(10);
text = '';
while true
    digit = mod(value, ten);
    text = [char('0' + double(digit)) text]; %#ok<AGROW>
    value = (value - digit) / ten;
    if value == 0
        break;
    end
end
end

function text = floating(value, path)
if ~isnumeric(value) || ~isscalar(value) || ~isreal(value)
    error('drel:compose:type', '%s must be a number, not a %s', path, class(value));
end
value = double(value);
if isnan(value)
    if bitget(typecast(value, 'uint64'), 64)
        text = '"-NaN"';
    else
        text = '"NaN"';
    end
elseif isinf(value)
    if value > 0
        text = '"inf"';
    else
        text = '"-inf"';
    end
else
    text = sprintf('%.17g', value);
end
end

function text = levels(value, path)
if ~isnumeric(value)
    error('drel:compose:type', '%s must be integer levels (an int16 vector), not a %s', path, class(value));
end
if isempty(value)
    text = '[]';
    return;
end
value = value(:)';
if isfloat(value) && ~all(value == fix(value))
    % Fractions, which the program refuses with what a level is.
    text = ['[' strjoin(arrayfun(@(x) sprintf('%.17g', x), value, 'UniformOutput', false), ',') ']'];
    return;
end
text = ['[' sprintf('%d,', value(1:end - 1)) sprintf('%d', value(end)) ']'];
end

function text = record(value, node, path)
if iscell(value) && isscalar(value)
    value = value{1};
end
if ~isstruct(value) || ~isscalar(value)
    error('drel:compose:type', ['%s must be a struct (one record), not a %s of %s: a struct array ' ...
                                'stands for an array'], path, class(value), mat2str(size(value)));
end
names = fieldnames(value);
parts = cell(1, numel(names));
for k = 1:numel(names)
    name = names{k};
    if isfield(node.fields, name)
        parts{k} = [quoted(name) ': ' drel.internal.encode(value.(name), node.fields.(name), [path '.' name])];
    else
        parts{k} = [quoted(name) ': ' generic(value.(name))];  % a key the program names and refuses
    end
end
text = ['{' strjoin(parts, ', ') '}'];
end

function text = array(value, node, path)
% Any MATLAB array, struct array or cell array: its elements in order.
if ischar(value)
    error('drel:compose:type', '%s must be an array, not text', path);
end
n = numel(value);
parts = cell(1, n);
for k = 1:n
    if iscell(value)
        element = value{k};
    else
        element = value(k);
    end
    parts{k} = drel.internal.encode(element, node.items, sprintf('%s(%d)', path, k));
end
text = ['[' strjoin(parts, ', ') ']'];
end

function text = signal(value, node, path)
% A struct of one field, its kind (Sine, Constant, ...), which holds its parameters.
if iscell(value) && isscalar(value)
    value = value{1};
end
if ~isstruct(value) || ~isscalar(value) || numel(fieldnames(value)) ~= 1
    error('drel:compose:type', ['%s must be a struct with one field, its kind (%s), as ' ...
                                'struct(''Sine'', struct(''amplitude'', 1.0, ''frequency'', 10.0))'], ...
          path, strjoin(node.names, ', '));
end
kind = fieldnames(value);
kind = kind{1};
if isfield(node.kinds, kind)
    text = ['{' quoted(kind) ': ' drel.internal.encode(value.(kind), node.kinds.(kind), [path '.' kind]) '}'];
else
    text = ['{' quoted(kind) ': ' generic(value.(kind)) '}'];  % the program names the kinds it takes
end
end

function text = generic(value)
% What the shape does not know, as near as MATLAB says it, for the program
% to refuse in its own words.
if isstruct(value) && isscalar(value)
    names = fieldnames(value);
    parts = cellfun(@(n) [quoted(n) ': ' generic(value.(n))], names, 'UniformOutput', false);
    text = ['{' strjoin(parts', ', ') '}'];
elseif ischar(value)
    text = quoted(value);
elseif iscell(value) || (isstruct(value) && ~isscalar(value)) || numel(value) ~= 1
    parts = cell(1, numel(value));
    for k = 1:numel(value)
        if iscell(value)
            parts{k} = generic(value{k});
        else
            parts{k} = generic(value(k));
        end
    end
    text = ['[' strjoin(parts, ', ') ']'];
elseif islogical(value)
    text = boolean(value, '');
else
    text = floating(value, '');
end
end

function text = quoted(s)
% A JSON string; characters beyond ASCII are written as they are, in UTF-8.
s = strrep(s, '\', '\\');
s = strrep(s, '"', '\"');
controls = s < 32;
if any(controls)
    out = '';
    for c = s
        if c < 32
            out = [out sprintf('\\u%04x', double(c))]; %#ok<AGROW>
        else
            out = [out c]; %#ok<AGROW>
        end
    end
    s = out;
end
text = ['"' s '"'];
end
